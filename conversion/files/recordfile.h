// Reading a UGI source file and writing an SGF record file. Writing goes through a temporary file
// in the target's folder that is renamed over the target, so a failed write never damages what was
// there and leaves no temporary file behind; a write that was killed leaves one, which the next
// write of the same target removes. A FIFO or a device is written into instead. Every call goes
// through a file system (filesystem.h), the system's own unless the options give another.
#pragma once

#include "commandfailure.h"
#include "recordsink.h"
#include "sourcefile.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillarn {

class FileSystem;
class Folder;

// What a write does when its target is there already.
enum class ExistingTarget {
    Replace, // replaces it
    Keep,    // leaves it as it is, and the write raises TargetExists (GroupWriter reports it)
};

// Raised by a write with ExistingTarget::Keep whose target exists: a file, a folder, or a symbolic
// link (which is not followed). Nothing was written.
class TargetExists : public CommandFailure {
public:
    TargetExists() : CommandFailure(Reason(std::make_error_code(std::errc::file_exists))) {}
};

// A time a file written is to keep as its time of last writing; none for the time of the write.
using Modified = std::optional<std::chrono::system_clock::time_point>;

struct WriteOptions {
    ExistingTarget existing = ExistingTarget::Replace;
    // False: a target that is written into rather than replaced (isWrittenInto) fails the write
    // with specialTargetInGroup instead (a batch's writes).
    bool writeIntoSpecialFiles = true;
    // The file system written to; the system's own when null.
    FileSystem *system = nullptr;
    // A new file, and an empty regular file of the user's own with no other name (named itself, not
    // through a link), written where it stands instead of replaced: for a reader that holds it open,
    // such as a file manager that made it for a picture. On failure one made is removed and one that
    // was empty is emptied again. Any other target is written as ever.
    bool newOrEmptyInPlace = false;
    // The time the file written is to have been last written (its source's), rather than now.
    Modified modified;
};

// The reason a batch gives for a target that is a FIFO or a device.
constexpr Said specialTargetInGroup = Said::SpecialInBatch;

// Replaces the file at path with bytes atomically: written to a temporary file beside it with the
// mode it is to have, flushed to disk, renamed over it, and the rename flushed with its folder. An
// existing file keeps its permission bits and, where the system allows, its owner. On POSIX systems
// a symbolic link is followed: the file it points to is replaced and the link stays, except that a
// link in a sticky folder that anyone may write to (such as /tmp) is followed only when it belongs
// to the user writing or to the folder's owner, as the system's fs.protected_symlinks has it:
// another user's link there fails the write. Leftover temporary files of earlier killed writes of
// the same target are removed (LeftoverTemporaries). A target that is not a regular file but a
// FIFO, a character device or a descriptor of a process (/dev/stdout, /dev/fd/N), directly or
// through links, is written into as it stands, opened with the first bytes and never replaced,
// whatever options.existing says; a block device or a socket fails the write. Raises
// CommandFailure with the system's reason, and TargetExists as options.existing says. On failure
// the existing file is untouched and no temporary file stays, except when only the flush of the
// folder after the rename fails: then the new file is in place and the reason says so. On Windows
// a symbolic link is not followed: the new file replaces the link itself, and what it pointed to
// stays as it was. There the rename is written through to the disk (its folder needs no flush of
// its own), a read-only file or one that another program holds open is refused with that reason,
// the new file takes its folder's permissions, and a device name (NUL, CON, COM1, \\.\NAME) is a
// device that is written into.
void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes);

// Returns the reason a write of path fails whatever it is told of a file that is there (a socket,
// a block device, a folder, another user's link in a shared folder, a folder that cannot be
// opened), as writeFileAtomically gives it; empty when nothing refuses it. Raises nothing.
Reason refusedTargetReason(const std::filesystem::path &path);

// Returns true when a write of path writes into what is there rather than replacing it: a FIFO, a
// character device or a descriptor of a process (on Windows, a device), directly or through links.
// Raises nothing: a path that cannot be looked at is not written into.
bool isWrittenInto(const std::filesystem::path &path);

// Returns true when name has the form of the writer's temporary files: ".quillarn-", eight ASCII
// digits or lower-case letters that a hash of the target's name gives, six ASCII letters or digits,
// ".tmp". The name is the same length for every target, so that it fits wherever the target's
// name fits.
bool isTemporaryFileName(const std::filesystem::path &name);

// The temporary files that killed writes left behind (the process ended before it could remove
// them). The first write of a target lists its folder, once for all the targets there, and removes
// every file that is surely a leftover of a write of that same target: named as
// isTemporaryFileName says with the hash of the target's name, a regular file (not a link) with
// one name, the user's own (on POSIX systems), empty or starting as a record file does ("(;CA["),
// and held by nobody: the lock of the tag its name carries (TemporaryHold, writerparts.h) is not
// held, so that the temporary file of a writer alive at the same time is never touched, however
// long it has been stopped. Nor is that of another target. Anything else stays. Safe to share
// between threads. It remembers the last folders only (a batch walks one folder after another): a
// folder asked about again after many others is listed again.
class LeftoverTemporaries {
public:
    // Removes the leftovers of the target name in folder, listing folder the first time it is asked
    // about it. Raises nothing: a leftover that cannot be removed stays.
    void removeFor(FileSystem &system, const Folder &folder, const std::filesystem::path::string_type &name);
    // The same for the target at path, which is not written: a batch that keeps an output that is
    // there still clears the leftovers of earlier runs beside it.
    void removeFor(FileSystem &system, const std::filesystem::path &target);

private:
    using Name = std::filesystem::path::string_type;
    struct Found; // the leftovers of one folder
    std::mutex mutex_;
    std::unordered_map<Name, std::shared_ptr<Found>> folders_;
    std::deque<Name> order_; // the folders of folders_, the oldest first
};

// writeFileAtomically with the leftovers of a batch, which lists each folder only once.
void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes,
                         LeftoverTemporaries &leftovers, const WriteOptions &options = {});

// Writes a record file into the sink it is given: convertRecord, or bytes made before.
using RecordProducer = std::function<void(RecordSink &)>;

// writeFileAtomically with what produce writes, straight into the temporary file (or the FIFO or
// device), which is created or opened with its first bytes once the target has been looked at.
// Returns false when produce writes nothing: then nothing was written, opened or changed. Raises as
// writeFileAtomically does, and what produce raises; then no temporary file stays.
bool writeFileAtomically(const std::filesystem::path &path, const RecordProducer &produce,
                         LeftoverTemporaries &leftovers, const WriteOptions &options = {});

} // namespace quillarn
