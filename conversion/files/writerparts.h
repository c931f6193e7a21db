// What the parts of the writer share: the target a write goes to once links are followed (each
// system's own: writertarget_posix.cpp, writertarget_windows.cpp), a record staged under a
// temporary name beside it (writer.cpp), which groupwriter.cpp writes in groups, and the names of
// temporary files (leftovers.cpp). Every call they make goes through a FileSystem.
#pragma once

#include "filesystem.h"
#include "recordfile.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillarn::writer {

// Raises CommandFailure with the system's reason for error.
[[noreturn]] void failWith(std::error_code error);

// Returns the reason of a file put in place whose folder could not be flushed.
Reason unflushedFolder(std::error_code error);

// The file a write replaces: a name in a folder, once symbolic links are followed.
struct Target {
    FolderPtr folder;
    NameText name;
    bool exists = false;
    FileInfo info{}; // when it exists
    // A FIFO, a character device or a descriptor of a process (on Windows, a device), named by name
    // in folder (a link to it when it was reached through links): written into, never replaced.
    bool special = false;
};

// Returns the file that a write of name in folder replaces: on POSIX systems name itself, or the
// file that a symbolic link there points to (followed link by link, each under the rule of shared
// folders); on Windows name itself, a link included. Or the FIFO, device or descriptor of a process
// that it names, which is written into. Raises TargetExists when existing is Keep and name is there
// but is not written into (a link is not followed then), and CommandFailure when the file is a
// folder, a block device, a socket or (on Windows) read-only, or with the system's reason.
Target resolveTarget(FileSystem &system, FolderPtr folder, NameText name, ExistingTarget existing);

// A record written under a temporary name in its target's folder, not yet flushed.
struct Staged {
    Target target;
    NameText temporary; // its name in target.folder
    File file;          // open for writing, until flushed and closed
};

// What marks a writer's temporary files as in use, in each folder it writes them into, from before
// the first is made until the last is renamed or removed: a lock file beside them,
// ".quillarn-TAG.lock", held for this process (FileSystem::createLock), whose TAG their names
// carry. A cleanup takes a temporary file for a leftover only when nobody holds the lock of its tag,
// so the files of a writer that is alive, however long it is stopped, are never taken, and those of
// one that died are, at once.
class TemporaryHold {
public:
    explicit TemporaryHold(FileSystem &system) : system_(system) {}
    ~TemporaryHold() { release(); }
    TemporaryHold(const TemporaryHold &) = delete;
    TemporaryHold &operator=(const TemporaryHold &) = delete;

    // Returns the tag of the temporary files in folder, its lock held first. Raises CommandFailure
    // with the system's reason.
    NameText holdIn(const FolderPtr &folder);
    // Lets go of every lock and removes it: for when none of the temporary files is left.
    void release();

private:
    struct Held {
        FolderPtr folder;
        NameText tag;
        File lock;
    };
    FileSystem &system_;
    std::vector<Held> held_;
};

// Returns what produce writes, in a temporary file beside target, created with the first bytes
// written to it after the leftovers of target's name there are removed, under hold; nothing when it
// writes nothing. With modified, the file's time of writing is set to it once it is written, as far
// as the file system keeps one: a record is never lost for its time. Raises what produce raises; then
// no temporary file stays.
std::optional<Staged> writeTemporary(FileSystem &system, const Target &target, const RecordProducer &produce,
                                     LeftoverTemporaries &leftovers, TemporaryHold &hold,
                                     std::size_t *size = nullptr, const Modified &modified = std::nullopt);

// Renames a flushed and closed staged file over its target; with Keep, only while the target is
// absent. Returns the system's error (file_exists: with Keep, the target is there).
std::error_code putInPlace(FileSystem &system, const Staged &staged, ExistingTarget existing);

// Returns a name for a temporary file of the target name (isTemporaryFileName): its name's hash,
// the tag of its hold (four ASCII letters or digits), then two at random. Several threads and
// programs may write into one folder at once: the name only needs to differ, since creating it
// never opens a file that exists.
NameText temporaryName(const NameText &name, const NameText &tag);

// How many names a writer tries for a temporary file before it gives up.
constexpr int temporaryNameAttempts = 100;

// How every record file the writer writes starts, UTF-8 or code page 932: a temporary file that
// starts otherwise is not one of its own.
constexpr std::string_view recordFileStart = "(;CA[";

} // namespace quillarn::writer
