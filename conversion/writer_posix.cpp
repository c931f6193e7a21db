// The writer on POSIX systems (recordfile.h, groupwriter.h): reading a source, and writing record
// files through temporary files created, renamed and flushed relative to a handle on their folder,
// one at a time or a group at a time, or into a FIFO or device as it stands. Every call that
// changes a file or a folder goes through a WriterSystem.
#include "groupwriter.h"
#include "recordfile.h"
#include "writershared.h"
#include "writersystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unordered_map>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace quillarn {

int WriterSystem::openat(int folder, const char *name, int flags, mode_t mode)
{
    return ::openat(folder, name, flags, mode);
}

ssize_t WriterSystem::write(int descriptor, const void *bytes, std::size_t size)
{
    return ::write(descriptor, bytes, size);
}

int WriterSystem::fsync(int descriptor)
{
    return ::fsync(descriptor);
}

int WriterSystem::syncfs(int descriptor)
{
#ifdef __linux__
    return ::syncfs(descriptor);
#else
    (void)descriptor;
    errno = ENOSYS;
    return -1;
#endif
}

int WriterSystem::startWriteBack(int descriptor)
{
#ifdef __linux__
    return ::sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)descriptor;
    return 0;
#endif
}

int WriterSystem::close(int descriptor)
{
    return ::close(descriptor);
}

int WriterSystem::fstat(int descriptor, struct stat *info)
{
    return ::fstat(descriptor, info);
}

int WriterSystem::fstatat(int folder, const char *name, struct stat *info, int flags)
{
    return ::fstatat(folder, name, info, flags);
}

ssize_t WriterSystem::readlinkat(int folder, const char *name, char *buffer, std::size_t size)
{
    return ::readlinkat(folder, name, buffer, size);
}

int WriterSystem::fchown(int descriptor, uid_t owner, gid_t group)
{
    return ::fchown(descriptor, owner, group);
}

int WriterSystem::fchmod(int descriptor, mode_t mode)
{
    return ::fchmod(descriptor, mode);
}

int WriterSystem::renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned flags)
{
    if (flags == 0)
        return ::renameat(fromFolder, from, toFolder, to);
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    static_assert(RENAME_NOREPLACE == renameNoReplace);
    return ::renameat2(fromFolder, from, toFolder, to, flags);
#else
    errno = EINVAL;
    return -1;
#endif
}

int WriterSystem::unlinkat(int folder, const char *name, int flags)
{
    return ::unlinkat(folder, name, flags);
}

WriterSystem &systemCalls()
{
    static WriterSystem calls;
    return calls;
}

namespace {

namespace fs = std::filesystem;

// Links followed in a row before the write fails, as the system's own lookups allow.
constexpr int maxLinks = 40;

const char noBytesTaken[] = "the system took none of the bytes written";

const char anotherUsersLink[] = "the output is another user's symbolic link in a shared folder (sticky, "
                                "writable by all); not followed";

[[noreturn]] void failWithErrno(int error)
{
    throw CommandFailure(std::strerror(error));
}

std::string unflushedFolder(const char *reason)
{
    return std::string("written, but its folder could not be flushed to disk: ") + reason;
}

// Closes a descriptor on every path out of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

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

// Returns the folder of path, opened.
FolderPtr openFolderOf(WriterSystem &calls, const fs::path &path)
{
    const fs::path folder = path.parent_path();
    return openFolder(calls, AT_FDCWD, folder.empty() ? "." : folder.c_str(), folder);
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

// Returns the file that a write of name in folder replaces: name itself, or the file that a
// symbolic link there points to (followed link by link, each under the rule of mayFollowLink); or
// the FIFO, device or descriptor of a process that it names, directly or through links, which is
// written into. Raises TargetExists when existing is Keep and name is there but is not written
// into (a link to a file is not followed then), and CommandFailure when the file is a folder, a
// block device or a socket, or with the system's reason.
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

// Gives the temporary file fd the owner and permission bits of the file it replaces, existing.
void keepOwnerAndMode(WriterSystem &calls, int fd, const struct stat &existing)
{
    if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
        // Root may give a file away; for anyone else the call fails, and the new file belongs to
        // whoever writes it, as any new file would.
        calls.fchown(fd, existing.st_uid, existing.st_gid);
    }
    // The file was created with the mode less what the umask takes; the set-ID and sticky bits
    // are not always kept when a file is created, and a change of owner clears the set-ID bits. The
    // mode it got is looked at, rather than the umask, which can only be read by changing it for
    // every thread of the process at once.
    const mode_t mode = existing.st_mode & 07777;
    struct stat created {};
    if (calls.fstat(fd, &created) != 0)
        failWithErrno(errno);
    if ((created.st_mode & 07777) != mode && calls.fchmod(fd, mode) != 0)
        failWithErrno(errno);
}

// Waits until fd, which refused bytes for now (EAGAIN: a full pipe opened without blocking), takes
// some again, or fails; the next write tells which.
void waitUntilWritable(int fd)
{
    pollfd wanted{fd, POLLOUT, 0};
    while (::poll(&wanted, 1, -1) < 0) {
        if (errno != EINTR)
            failWithErrno(errno);
    }
}

void writeAll(WriterSystem &calls, int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = calls.write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0) {
            // Nothing was taken and nothing said why: trying again could only do the same.
            throw CommandFailure(noBytesTaken);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitUntilWritable(fd);
        } else if (errno != EINTR) {
            failWithErrno(errno);
        }
    }
}

// A record written under a temporary name in its target's folder, not yet flushed.
struct Staged {
    Target target;
    std::string temporary; // its name in target.folder
    int descriptor;        // open for writing
};

// The temporary file of a record, beside its target: created with the first bytes written to it,
// with the target's permission bits (for a new file, those the umask leaves of 0666) and, where the
// system allows, its owner, after the leftovers of the target have been removed. Raises
// CommandFailure with the system's reason.
class TemporaryFile : public RecordSink {
public:
    TemporaryFile(WriterSystem &calls, const Target &target, LeftoverTemporaries &leftovers)
        : calls_(calls), target_(target), leftovers_(leftovers)
    {
    }
    ~TemporaryFile() override { remove(); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    void write(std::string_view bytes) override
    {
        if (descriptor_ < 0)
            create();
        writeAll(calls_, descriptor_, bytes);
        size_ += bytes.size();
    }

    bool created() const { return descriptor_ >= 0; }
    std::size_t size() const { return size_; }

    // Returns the file, which the caller now owns.
    Staged release()
    {
        Staged staged{target_, std::move(temporary_), descriptor_};
        descriptor_ = -1;
        return staged;
    }

private:
    void create()
    {
        leftovers_.removeIn(target_.folder->path());
        const int at = target_.folder->descriptor();
        // Never readable by more users than the file it replaces, not even for a moment.
        const mode_t mode = target_.exists ? target_.info.st_mode & 07777 : 0666;
        for (int attempt = 1; descriptor_ < 0; ++attempt) {
            temporary_ = temporaryName();
            descriptor_ =
                calls_.openat(at, temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (descriptor_ < 0 && (errno != EEXIST || attempt == temporaryNameAttempts))
                failWithErrno(errno);
        }
        if (target_.exists)
            keepOwnerAndMode(calls_, descriptor_, target_.info);
    }

    // Closes and removes a file that was not released.
    void remove()
    {
        if (descriptor_ < 0)
            return;
        calls_.close(descriptor_);
        calls_.unlinkat(target_.folder->descriptor(), temporary_.c_str(), 0);
        descriptor_ = -1;
    }

    WriterSystem &calls_;
    const Target &target_;
    LeftoverTemporaries &leftovers_;
    std::string temporary_;
    int descriptor_ = -1;
    std::size_t size_ = 0;
};

// Returns what produce writes, in a temporary file beside target (TemporaryFile); nothing when it
// writes nothing. Raises what produce raises; then no temporary file stays.
std::optional<Staged> writeTemporary(WriterSystem &calls, const Target &target, const RecordProducer &produce,
                                     LeftoverTemporaries &leftovers, std::size_t *size = nullptr)
{
    TemporaryFile file(calls, target, leftovers);
    produce(file);
    if (size != nullptr)
        *size = file.size();
    if (!file.created())
        return std::nullopt;
    return file.release();
}

// A target written into as it stands (Target::special): opened with the first bytes written to it,
// so that nothing is opened for a record that fails (opening a FIFO waits for its reader), and
// appended to, so that a file behind a descriptor (/dev/stdout > log) keeps what it held. Raises
// CommandFailure with the system's reason.
class SpecialFile : public RecordSink {
public:
    SpecialFile(WriterSystem &calls, const Target &target) : calls_(calls), target_(target) {}
    ~SpecialFile() override
    {
        if (descriptor_ >= 0)
            calls_.close(descriptor_);
    }
    SpecialFile(const SpecialFile &) = delete;
    SpecialFile &operator=(const SpecialFile &) = delete;

    void write(std::string_view bytes) override
    {
        if (descriptor_ < 0) {
            descriptor_ = calls_.openat(target_.folder->descriptor(), target_.name.c_str(),
                                        O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC, 0);
            if (descriptor_ < 0)
                failWithErrno(errno);
        }
        writeAll(calls_, descriptor_, bytes);
    }

    // Closes it; returns false when nothing was written.
    bool finish()
    {
        if (descriptor_ < 0)
            return false;
        const int descriptor = descriptor_;
        descriptor_ = -1;
        if (calls_.close(descriptor) != 0)
            failWithErrno(errno);
        return true;
    }

private:
    WriterSystem &calls_;
    const Target &target_;
    int descriptor_ = -1;
};

// Renames a flushed and closed staged file over its target; with Keep, only while the target is
// absent. Returns 0, or the system's error (EEXIST: with Keep, the target is there).
int putInPlace(WriterSystem &calls, const Staged &staged, ExistingTarget existing)
{
    const int at = staged.target.folder->descriptor();
    const char *from = staged.temporary.c_str();
    const char *to = staged.target.name.c_str();
    if (existing == ExistingTarget::Keep) {
        if (calls.renameat2(at, from, at, to, renameNoReplace) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        // Neither the system nor the file system can refuse to replace: a look just before.
        struct stat info {};
        if (calls.fstatat(at, to, &info, AT_SYMLINK_NOFOLLOW) == 0)
            return EEXIST;
        if (errno != ENOENT)
            return errno;
    }
    return calls.renameat2(at, from, at, to, 0) == 0 ? 0 : errno;
}

} // namespace

std::string_view readFileInto(const fs::path &path, ReadBuffer &buffer)
{
    // O_NONBLOCK so that a FIFO given as source cannot block the open; only regular files are read.
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        failWithErrno(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        failWithErrno(errno);
    if (S_ISDIR(info.st_mode))
        failWithErrno(EISDIR);
    if (!S_ISREG(info.st_mode))
        throw CommandFailure("not a regular file");
    if (info.st_size > maxSourceBytes)
        throw CommandFailure(sourceTooLarge(info.st_size));
    // Reads wait for their bytes, so that none can fail for now (EAGAIN) and be tried at once again.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        failWithErrno(errno);

    const auto size = static_cast<std::size_t>(info.st_size);
    char *const bytes = buffer.room(size);
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got = ::read(fd.get(), bytes + filled, size - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            failWithErrno(errno);
        }
        if (got == 0)
            break; // the file shrank since its length was taken
        filled += static_cast<std::size_t>(got);
    }
    return std::string_view(bytes, filled);
}

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

bool standardInputIsFile(const fs::path &path)
{
    struct stat input {};
    struct stat file {};
    return ::fstat(STDIN_FILENO, &input) == 0 && S_ISREG(input.st_mode) && ::stat(path.c_str(), &file) == 0 &&
           file.st_dev == input.st_dev && file.st_ino == input.st_ino;
}

void removeLeftover(const fs::path &entry, fs::file_time_type before)
{
    // Looked at through the descriptor that is read, so that what is judged is what is there; not
    // through a link, and without waiting on a FIFO.
    const Descriptor fd(::open(entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        info.st_uid != ::geteuid())
        return;
    char first[recordFileStart.size()];
    const ssize_t got = ::read(fd.get(), first, sizeof first);
    std::error_code error;
    const fs::file_time_type modified = fs::last_write_time(entry, error);
    if (got < 0 || !startsAsRecordFile(std::string_view(first, static_cast<std::size_t>(got))) || error ||
        modified >= before)
        return;
    ::unlink(entry.c_str());
}

void writeFileAtomically(const fs::path &path, std::string_view bytes, LeftoverTemporaries &leftovers,
                         const WriteOptions &options)
{
    writeFileAtomically(
        path, [bytes](RecordSink &sink) { sink.write(bytes); }, leftovers, options);
}

bool writeFileAtomically(const fs::path &path, const RecordProducer &produce, LeftoverTemporaries &leftovers,
                         const WriteOptions &options)
{
    WriterSystem &calls = options.system ? *options.system : systemCalls();
    const Target target =
        resolveTarget(calls, openFolderOf(calls, path), path.filename().native(), options.existing);
    if (target.special) {
        if (!options.writeIntoSpecialFiles)
            throw CommandFailure(specialTargetInGroup);
        SpecialFile file(calls, target);
        produce(file);
        return file.finish();
    }
    const std::optional<Staged> staged = writeTemporary(calls, target, produce, leftovers);
    if (!staged)
        return false;
    const Folder &folder = *staged->target.folder;
    int error = calls.fsync(staged->descriptor) == 0 ? 0 : errno;
    // A failed close can mean the data never reached the disk.
    if (calls.close(staged->descriptor) != 0 && error == 0)
        error = errno;
    if (error == 0)
        error = putInPlace(calls, *staged, options.existing);
    if (error != 0) {
        calls.unlinkat(folder.descriptor(), staged->temporary.c_str(), 0);
        if (error == EEXIST && options.existing == ExistingTarget::Keep)
            throw TargetExists();
        failWithErrno(error);
    }
    // The rename reaches the disk with its folder; until then a power cut can undo it. A folder
    // that cannot be read cannot be flushed by itself: there the system flushes it in its time.
    if (folder.readable() && calls.fsync(folder.descriptor()) != 0)
        throw CommandFailure(unflushedFolder(std::strerror(errno)));
    return true;
}

GroupLimits defaultGroupLimits()
{
    GroupLimits limits;
#ifndef __linux__
    // syncfs and sync_file_range are Linux's own: elsewhere each file is flushed by itself, in
    // groups small enough to keep their files open.
    limits.method = FlushMethod::EachFile;
    limits.files = 64;
#endif
    return limits;
}

struct GroupWriter::Group {
    explicit Group(WriterSystem &calls) : calls(calls) {}

    struct Member {
        std::size_t id;
        Staged staged; // its descriptor: EachFile, open until flushed; FileSystem, -1
        ExistingTarget existing;
    };
    // A file system the group writes to, and a descriptor on it opened before the group wrote
    // anything there: syncfs through it reports every write-back error since.
    struct Device {
        dev_t id;
        int descriptor;
    };

    // Returns the folder of path, opened once per group; raises with the system's reason.
    FolderPtr folderOf(const fs::path &path)
    {
        const fs::path folder = path.parent_path();
        const auto known = folders.find(folder.native());
        if (known != folders.end())
            return known->second;
        FolderPtr opened = openFolderOf(calls, path);
        folders.emplace(folder.native(), opened);
        return opened;
    }

    // Returns path's target when it is absent (looked at when look, known otherwise), raises
    // TargetExists when it is there, and returns nothing when that cannot be told (its folder may
    // not be made yet).
    std::optional<Target> absentTarget(const fs::path &path, bool look)
    {
        FolderPtr folder;
        try {
            folder = folderOf(path);
        } catch (const CommandFailure &) {
            return std::nullopt;
        }
        Target target{folder, path.filename().native()};
        if (target.name.empty() || target.name == "." || target.name == "..")
            return std::nullopt;
        if (!look)
            return target;
        if (calls.fstatat(folder->descriptor(), target.name.c_str(), &target.info, AT_SYMLINK_NOFOLLOW) == 0)
            throw TargetExists();
        if (errno != ENOENT)
            return std::nullopt;
        return target;
    }

    // Returns the first flush failure of the group's file systems, or an empty string.
    std::string flushDevices() const
    {
        for (const Device &device : devices) {
            if (calls.syncfs(device.descriptor) != 0)
                return std::strerror(errno);
        }
        return {};
    }

    WriterSystem &calls;
    std::vector<Member> members;
    std::vector<Device> devices;
    // The folders of the group's paths, by the names given, each opened once.
    std::unordered_map<fs::path::string_type, FolderPtr> folders;
    std::size_t otherFolders = 0; // opened after symbolic links
    std::size_t bytes = 0;
};

GroupWriter::GroupWriter(LeftoverTemporaries &leftovers, const GroupLimits &limits)
    : leftovers_(leftovers), limits_(limits),
      group_(std::make_unique<Group>(limits.system ? *limits.system : systemCalls()))
{
}

GroupWriter::~GroupWriter()
{
    discard();
}

bool GroupWriter::full() const
{
    return group_->members.size() >= limits_.files || group_->bytes >= limits_.bytes ||
           group_->folders.size() + group_->otherFolders >= limits_.folders;
}

bool GroupWriter::empty() const
{
    return group_->members.empty();
}

bool GroupWriter::add(std::size_t id, const fs::path &path, const RecordProducer &produce,
                      ExistingTarget existing, TargetLook look)
{
    Group &group = *group_;
    // A target known to be absent is not looked at: a rename with Keep refuses one that appeared
    // since, and with Replace replaces it (never through a link). Otherwise, with Keep, the target is
    // looked at before the record is made, so that one that is there costs nothing more; when that
    // look cannot tell (its folder may not be made yet), the one after does.
    std::optional<Target> target;
    if (look == TargetLook::KnownAbsent)
        target = group.absentTarget(path, false);
    else if (existing == ExistingTarget::Keep)
        target = group.absentTarget(path, true);
    std::size_t size = 0;
    std::optional<Staged> staged;
    if (target) {
        staged = writeTemporary(group.calls, *target, produce, leftovers_, &size);
    } else {
        // The record is made first here: its folder may be made with it.
        StringSink bytes;
        produce(bytes);
        if (bytes.bytes.empty())
            return false;
        const Target resolved =
            resolveTarget(group.calls, group.folderOf(path), path.filename().native(), existing);
        if (resolved.special)
            throw CommandFailure(specialTargetInGroup);
        const auto given = [&bytes](RecordSink &sink) { sink.write(bytes.bytes); };
        staged = writeTemporary(group.calls, resolved, given, leftovers_, &size);
    }
    if (!staged)
        return false;
    try {
        if (limits_.startWriteBack)
            group.calls.startWriteBack(staged->descriptor);
        if (limits_.method == FlushMethod::FileSystem) {
            const dev_t device = staged->target.folder->info().st_dev;
            if (std::none_of(group.devices.begin(), group.devices.end(),
                             [&](const Group::Device &d) { return d.id == device; })) {
                // The first file of the group on this file system was opened before anything else
                // of the group was written there: its descriptor serves for the flush.
                group.devices.push_back({device, staged->descriptor});
                staged->descriptor = -1;
            } else {
                const int closed = group.calls.close(staged->descriptor);
                staged->descriptor = -1;
                if (closed != 0)
                    failWithErrno(errno);
            }
        }
        if (staged->target.folder != group.folderOf(path))
            ++group.otherFolders;
        group.members.push_back({id, *staged, existing});
    } catch (...) {
        if (staged->descriptor >= 0)
            group.calls.close(staged->descriptor);
        group.calls.unlinkat(staged->target.folder->descriptor(), staged->temporary.c_str(), 0);
        throw;
    }
    group.bytes += size;
    return true;
}

bool GroupWriter::add(std::size_t id, const fs::path &path, std::string_view bytes, ExistingTarget existing)
{
    return add(
        id, path, [bytes](RecordSink &sink) { sink.write(bytes); }, existing);
}

std::vector<GroupWriter::Result> GroupWriter::commit()
{
    Group &group = *group_;
    WriterSystem &calls = group.calls;
    std::vector<Result> results;
    results.reserve(group.members.size());
    for (const Group::Member &member : group.members)
        results.push_back({member.id, {}});

    // The data of every file reaches the disk before any of them is renamed into place.
    std::string failure;
    if (limits_.method == FlushMethod::FileSystem) {
        failure = group.flushDevices();
    } else {
        for (std::size_t i = 0; i < group.members.size(); ++i) {
            Staged &staged = group.members[i].staged;
            if (calls.fsync(staged.descriptor) != 0)
                results[i].reason = std::strerror(errno);
            if (calls.close(staged.descriptor) != 0 && results[i].reason.empty())
                results[i].reason = std::strerror(errno);
            staged.descriptor = -1;
        }
    }
    std::vector<const Folder *> renamedIn;
    for (std::size_t i = 0; i < group.members.size(); ++i) {
        const Group::Member &member = group.members[i];
        const Folder &folder = *member.staged.target.folder;
        Result &result = results[i];
        if (!failure.empty()) {
            result.reason = failure;
        } else if (result.reason.empty()) {
            const int error = putInPlace(calls, member.staged, member.existing);
            result.targetExists = error == EEXIST && member.existing == ExistingTarget::Keep;
            if (result.targetExists)
                result.reason = TargetExists().reason();
            else if (error != 0)
                result.reason = std::strerror(error);
        }
        if (!result.reason.empty())
            calls.unlinkat(folder.descriptor(), member.staged.temporary.c_str(), 0);
        else if (std::find(renamedIn.begin(), renamedIn.end(), &folder) == renamedIn.end())
            renamedIn.push_back(&folder);
    }

    // Then the renames themselves.
    std::string unflushed;
    if (renamedIn.empty()) {
        // nothing was put in place
    } else if (limits_.method == FlushMethod::FileSystem) {
        unflushed = group.flushDevices();
    } else {
        for (const Folder *folder : renamedIn) {
            if (!folder->readable())
                unflushed = std::strerror(EACCES);
            else if (calls.fsync(folder->descriptor()) != 0)
                unflushed = std::strerror(errno);
        }
    }
    if (!unflushed.empty()) {
        for (Result &result : results) {
            if (result.reason.empty())
                result.reason = unflushedFolder(unflushed.c_str());
        }
    }
    group.members.clear();
    discard();
    return results;
}

void GroupWriter::discard()
{
    Group &group = *group_;
    for (const Group::Member &member : group.members) {
        if (member.staged.descriptor >= 0)
            group.calls.close(member.staged.descriptor);
        group.calls.unlinkat(member.staged.target.folder->descriptor(), member.staged.temporary.c_str(), 0);
    }
    for (const Group::Device &device : group.devices)
        group.calls.close(device.descriptor);
    group.members.clear();
    group.devices.clear();
    group.folders.clear();
    group.otherFolders = 0;
    group.bytes = 0;
}

} // namespace quillarn
