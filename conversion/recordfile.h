// Reading a UGI source file and writing an SGF record file. Writing goes through a temporary file
// in the target's folder that is renamed over the target, so a failed write never damages what was
// there and leaves no temporary file behind; a write that was killed leaves one, which the next
// write of the same file removes.
#pragma once

#include "commandfailure.h"
#include "recordsink.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillarn {

// The largest source read, in bytes: the translation counts in 32-bit positions.
constexpr long long maxSourceBytes = 2147483647;

// Returns the whole content of the regular file at path. Raises CommandFailure with the system's
// reason when it cannot be opened or read, when it is not a regular file (a folder, a FIFO), or
// when it is too large for a 32-bit position (checked before reading).
std::string readFileBytes(const std::filesystem::path &path);

// Memory that sources are read into, kept from one source to the next, so that a batch reads every
// record through the same pages. It grows to the largest source read, and is never cleared: a read
// writes each byte before it is looked at.
class ReadBuffer {
public:
    // Returns room for size bytes.
    char *room(std::size_t size)
    {
        if (size > capacity_) {
            data_.reset(new char[size]);
            capacity_ = size;
        }
        return data_.get();
    }

private:
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
};

// Reads the whole regular file at path into buffer and returns the bytes read, which stay valid until
// the next read into buffer. Raises as readFileBytes does.
std::string_view readFileInto(const std::filesystem::path &path, ReadBuffer &buffer);

// Returns the decoded text of the file at path (readFileBytes, then decodeAnsi).
std::u16string readSourceFile(const std::filesystem::path &path);

// Returns the bytes the save step writes for a record: the record text in code page 932 with
// CA[Shift_JIS] (CA[CP932] when it holds characters only code page 932 has) as the first property
// of its root node, then one CR LF; no byte-order mark. Raises CommandFailure as encodeAnsi does,
// and when recordText does not start with a root node.
std::string recordFileBytes(std::u16string_view recordText);

// What a write does when its target is there already.
enum class ExistingTarget {
    Replace, // replaces it
    Keep,    // leaves it as it is, and the write raises TargetExists (GroupWriter reports it)
};

// Raised by a write with ExistingTarget::Keep whose target exists: a file, a folder, or a symbolic
// link (which is not followed). Nothing was written.
class TargetExists : public CommandFailure {
public:
    TargetExists() : CommandFailure("File exists") {}
};

class WriterSystem;

struct WriteOptions {
    ExistingTarget existing = ExistingTarget::Replace;
    // The calls the POSIX writer makes (writersystem.h); the system's own when null.
    WriterSystem *system = nullptr;
};

// Replaces the file at path with bytes atomically: written to a temporary file beside it with the
// mode it is to have, flushed to disk, renamed over it, and the rename flushed with its folder. An
// existing file keeps its permission bits and, where the system allows, its owner; through a
// symbolic link the file it points to is replaced and the link stays, except that a link in a
// sticky folder that anyone may write to (such as /tmp) is followed only when it belongs to the
// user writing or to the folder's owner, as the system's fs.protected_symlinks has it: another
// user's link there fails the write. Leftover temporary files of earlier killed writes of the same
// file are removed (LeftoverTemporaries). Raises CommandFailure with the system's reason, and
// TargetExists as options.existing says. On failure the existing file is untouched and no
// temporary file stays, except when only the flush of the folder after the rename fails: then the
// new file is in place and the reason says so. On Windows the temporary file is named as elsewhere
// (".NAME.XXXXXX"), the rename is written through to the disk, a read-only file or one that another
// program holds open is refused with that reason, and the new file takes its folder's permissions.
void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes);

// Returns true when name ends in extension (".ugi"), in any letter case of A-Z.
bool hasExtension(std::string_view name, std::string_view extension);

// Returns true when name (UTF-8, as all names and paths in messages are) ends in ".ugi" in any letter
// case and has something before it: the name of a UGI record.
bool isRecordFileName(std::string_view name);

// Returns true when entry is a name the writer gives the temporary file of a file named name:
// "." + name + "." + six ASCII letters or digits.
bool isTemporaryFileOf(const std::filesystem::path &entry, const std::filesystem::path &name);

// The temporary files that killed writes left behind (the process ended before it could remove
// them), found by listing each folder once. They are removed only when the file they were for is
// written again, and only when they were last modified at least two seconds before this process
// started, so that the temporary file of a writer running at the same time is never touched. Safe
// to share between threads.
class LeftoverTemporaries {
public:
    // Removes the leftovers of path's file name in path's folder, listing the folder the first time
    // it is asked about it. Raises nothing: a leftover that cannot be removed stays.
    void removeFor(const std::filesystem::path &path);

private:
    std::mutex mutex_;
    using Name = std::filesystem::path::string_type;
    // folder -> file name -> its leftovers
    std::unordered_map<Name, std::unordered_map<Name, std::vector<std::filesystem::path>>> folders_;
};

// writeFileAtomically with the leftovers of a batch, which lists each folder only once.
void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes,
                         LeftoverTemporaries &leftovers, const WriteOptions &options = {});

// Writes a record file into the sink it is given: convertRecord, or bytes made before.
using RecordProducer = std::function<void(RecordSink &)>;

// writeFileAtomically with what produce writes, straight into the temporary file, which is created
// with its first bytes once the target has been looked at. Returns false when produce writes
// nothing: then nothing was written or changed. Raises as writeFileAtomically does, and what produce
// raises; then no temporary file stays.
bool writeFileAtomically(const std::filesystem::path &path, const RecordProducer &produce,
                         LeftoverTemporaries &leftovers, const WriteOptions &options = {});

// Writes recordFileBytes(recordText) to path through writeFileAtomically.
void writeRecordFile(const std::filesystem::path &path, std::u16string_view recordText);

} // namespace quillarn
