// What the parts of the POSIX writer share: a folder opened once for the files written there, the
// target a write goes to once links are followed (writertarget_posix.cpp), and a record staged under
// a temporary name beside it (writer_posix.cpp), which groupwriter_posix.cpp writes in groups.
#pragma once

#include "recordfile.h"
#include "writersystem.h"

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <sys/stat.h>

namespace quillarn::posixwriter {

namespace fs = std::filesystem;

// Raises CommandFailure with the system's reason for error.
[[noreturn]] void failWithErrno(int error);

// Returns the reason of a file put in place whose folder could not be flushed.
std::string unflushedFolder(const char *reason);

// A folder the writer creates and renames files in, opened once for the files written there and
// closed with the last of them.
class Folder {
public:
    Folder(WriterSystem &calls, fs::path path, int descriptor, bool readable)
        : calls_(calls), path_(std::move(path)), descriptor_(descriptor), readable_(readable)
    {
    }
    ~Folder() { calls_.close(descriptor_); }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    int descriptor() const { return descriptor_; }
    // The folder as the caller named it (leftovers are listed by it).
    const fs::path &path() const { return path_; }
    // False when it could be opened only for lookups: then it cannot be flushed by itself.
    bool readable() const { return readable_; }
    // Returns its status (device, owner, mode), looked up once; raises with the system's reason.
    const struct stat &info()
    {
        if (!looked_) {
            if (calls_.fstat(descriptor_, &info_) != 0)
                failWithErrno(errno);
            looked_ = true;
        }
        return info_;
    }

private:
    WriterSystem &calls_;
    fs::path path_;
    int descriptor_;
    bool readable_;
    bool looked_ = false;
    struct stat info_ {};
};

using FolderPtr = std::shared_ptr<Folder>;

// Returns the folder of path, opened. Raises CommandFailure with the system's reason.
FolderPtr openFolderOf(WriterSystem &calls, const fs::path &path);

// The file a write replaces: a name in a folder, once symbolic links are followed.
struct Target {
    FolderPtr folder;
    std::string name;
    bool exists = false;
    struct stat info {}; // when it exists
    // A FIFO, a character device or a descriptor of a process, named by name in folder (a link to
    // it when it was reached through links): written into, never replaced.
    bool special = false;
};

// Returns the file that a write of name in folder replaces: name itself, or the file that a
// symbolic link there points to (followed link by link, each under the rule of mayFollowLink); or
// the FIFO, device or descriptor of a process that it names, directly or through links, which is
// written into. Raises TargetExists when existing is Keep and name is there but is not written
// into (a link to a file is not followed then), and CommandFailure when the file is a folder, a
// block device or a socket, or with the system's reason.
Target resolveTarget(WriterSystem &calls, FolderPtr folder, std::string name, ExistingTarget existing);

// A record written under a temporary name in its target's folder, not yet flushed.
struct Staged {
    Target target;
    std::string temporary; // its name in target.folder
    int descriptor;        // open for writing
};

// Returns what produce writes, in a temporary file beside target (TemporaryFile); nothing when it
// writes nothing. Raises what produce raises; then no temporary file stays.
std::optional<Staged> writeTemporary(WriterSystem &calls, const Target &target, const RecordProducer &produce,
                                     LeftoverTemporaries &leftovers, std::size_t *size = nullptr);

// Renames a flushed and closed staged file over its target; with Keep, only while the target is
// absent. Returns 0, or the system's error (EEXIST: with Keep, the target is there).
int putInPlace(WriterSystem &calls, const Staged &staged, ExistingTarget existing);

} // namespace quillarn::posixwriter
