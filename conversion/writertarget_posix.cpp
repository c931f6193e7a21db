// Where a write goes on POSIX systems (writerposix.h): the target's folder, opened once, and the
// file that a name stands for once symbolic links are followed under the rule of shared folders,
// or the FIFO, device or descriptor of a process that is written into as it stands.
#include "writerposix.h"

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace quillarn {

namespace posixwriter {

namespace {

// Links followed in a row before the write fails, as the system's own lookups allow.
constexpr int maxLinks = 40;

const char anotherUsersLink[] = "the output is another user's symbolic link in a shared folder (sticky, "
                                "writable by all); not followed";

// Opens the folder name (relative to the folder from, unless absolute) that path stands for.
// Raises CommandFailure with the system's reason.
FolderPtr openFolder(WriterSystem &calls, int from, const char *name, const fs::path &path)
{
    int descriptor = calls.openat(from, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    bool readable = true;
#ifdef O_PATH
    if (descriptor < 0 && errno == EACCES) {
        // A folder that may be written to but not listed (a drop box): lookups and renames work.
        descriptor = calls.openat(from, name, O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
        readable = false;
    }
#endif
    if (descriptor < 0)
        failWithErrno(errno);
    return std::make_shared<Folder>(calls, path, descriptor, readable);
}

// Returns true when a symbolic link that owner made in a folder with status folder may be
// followed: anywhere but in a sticky folder that anyone may write to, where only the user's own
// links and those of the folder's owner are (the rule of Linux's fs.protected_symlinks), so that
// nobody can make another user's write land in a file of that user's choosing.
bool mayFollowLink(uid_t owner, const struct stat &folder)
{
    const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return !shared || owner == ::geteuid() || owner == folder.st_uid;
}

std::string readLink(WriterSystem &calls, int folder, const char *name)
{
    std::string target(4096, '\0');
    const ssize_t length = calls.readlinkat(folder, name, target.data(), target.size());
    if (length < 0)
        failWithErrno(errno);
    if (static_cast<std::size_t>(length) == target.size())
        failWithErrno(ENAMETOOLONG);
    target.resize(static_cast<std::size_t>(length));
    return target;
}

// Returns true when folder is in the system's file system of processes (Linux's /proc), whose
// links (/proc/self/fd/1, which /dev/stdout points to) only the system can follow: their text
// names a pipe ("pipe:[1234]"), or a file as it was opened.
bool isProcessFileSystem(int folder)
{
#ifdef __linux__
    struct statfs info {};
    return ::fstatfs(folder, &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
#else
    (void)folder;
    return false;
#endif
}

// Returns the reason a target of the type in mode is not written, or nothing when it is written
// into: a block device would be a disk, and a socket cannot be opened as a file.
const char *refusedSpecial(mode_t mode)
{
    if (S_ISBLK(mode))
        return "the output is a block device; not written";
    if (S_ISSOCK(mode))
        return "the output is a socket; not written";
    return nullptr;
}

// Returns name in folder as a target written into when it is a FIFO or a character device, or
// reached (info) through a link of the file system of processes; raises for a folder, a block
// device or a socket reached so. Returns nothing for anything else.
std::optional<Target> specialTarget(const FolderPtr &folder, const std::string &name, const struct stat &info,
                                    bool processLink)
{
    if (!S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode) && !processLink)
        return std::nullopt;
    if (S_ISDIR(info.st_mode))
        failWithErrno(EISDIR);
    if (const char *reason = refusedSpecial(info.st_mode))
        throw CommandFailure(reason);
    return Target{folder, name, true, info, true};
}

} // namespace

[[noreturn]] void failWithErrno(int error)
{
    throw CommandFailure(std::strerror(error));
}

FolderPtr openFolderOf(WriterSystem &calls, const fs::path &path)
{
    const fs::path folder = path.parent_path();
    return openFolder(calls, AT_FDCWD, folder.empty() ? "." : folder.c_str(), folder);
}

Target resolveTarget(WriterSystem &calls, FolderPtr folder, std::string name, ExistingTarget existing)
{
    const bool keep = existing == ExistingTarget::Keep;
    bool named = false; // whether name, as given, is there
    try {
        for (int links = 0;; ++links) {
            if (name.empty() || name == "." || name == "..")
                failWithErrno(EISDIR);
            Target target{folder, name};
            if (calls.fstatat(folder->descriptor(), name.c_str(), &target.info, AT_SYMLINK_NOFOLLOW) == 0)
                target.exists = true;
            else if (errno != ENOENT)
                failWithErrno(errno);
            named = named || (links == 0 && target.exists);
            if (!target.exists) {
                if (keep && named)
                    throw TargetExists(); // a link to nothing is kept too
                return target;
            }
            if (S_ISLNK(target.info.st_mode)) {
                if (!mayFollowLink(target.info.st_uid, folder->info())) {
                    if (keep)
                        throw TargetExists();
                    throw CommandFailure(anotherUsersLink);
                }
                // What the system reaches through the link: one written into is opened through it,
                // as only the system can follow a link of the file system of processes.
                struct stat reached {};
                if (calls.fstatat(folder->descriptor(), name.c_str(), &reached, 0) == 0) {
                    if (auto special =
                            specialTarget(folder, name, reached, isProcessFileSystem(folder->descriptor())))
                        return *special;
                }
                if (links == maxLinks)
                    failWithErrno(ELOOP);
                const std::string to = readLink(calls, folder->descriptor(), name.c_str());
                const std::size_t slash = to.rfind('/');
                if (slash != std::string::npos) {
                    const std::string part = slash == 0 ? "/" : to.substr(0, slash);
                    const bool absolute = to[0] == '/';
                    folder = openFolder(calls, absolute ? AT_FDCWD : folder->descriptor(), part.c_str(),
                                        absolute ? fs::path(part) : folder->path() / part);
                }
                name = to.substr(slash == std::string::npos ? 0 : slash + 1);
                continue;
            }
            if (auto special = specialTarget(folder, name, target.info, false))
                return *special;
            if (keep)
                throw TargetExists();
            if (S_ISDIR(target.info.st_mode))
                failWithErrno(EISDIR);
            if (const char *reason = refusedSpecial(target.info.st_mode))
                throw CommandFailure(reason);
            return target;
        }
    } catch (const TargetExists &) {
        throw;
    } catch (const CommandFailure &) {
        // With Keep a name that is there is kept, whatever following it would have met.
        if (keep && named)
            throw TargetExists();
        throw;
    }
}

} // namespace posixwriter

using namespace posixwriter;

bool isWrittenInto(const fs::path &path)
{
    try {
        WriterSystem &calls = systemCalls();
        return resolveTarget(calls, openFolderOf(calls, path), path.filename().native(),
                             ExistingTarget::Replace)
            .special;
    } catch (const CommandFailure &) {
        return false;
    }
}

} // namespace quillarn
