// The file system of POSIX systems (filesystem_posix.h): the system's calls, relative to a handle
// on the folder wherever one is given, and the reading of a source. Also the standard streams
// (recordfile.h).
#include "filesystem_posix.h"

#include "recordfile.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace quillarn {

namespace fs = std::filesystem;

namespace {

std::error_code lastError()
{
    return {errno, std::generic_category()};
}

// Returns the system's error of a call that returns -1 on failure.
std::error_code checked(long result)
{
    return result < 0 ? lastError() : std::error_code();
}

int descriptorOf(const Folder *folder)
{
    return folder ? static_cast<int>(folder->handle()) : AT_FDCWD;
}

int descriptorOf(FileHandle file)
{
    return static_cast<int>(file);
}

fs::file_type typeOf(mode_t mode)
{
    static const std::pair<mode_t, fs::file_type> types[] = {
        {S_IFREG, fs::file_type::regular},   {S_IFDIR, fs::file_type::directory},
        {S_IFLNK, fs::file_type::symlink},   {S_IFIFO, fs::file_type::fifo},
        {S_IFCHR, fs::file_type::character}, {S_IFBLK, fs::file_type::block},
        {S_IFSOCK, fs::file_type::socket}};
    for (const auto &[bits, type] : types) {
        if ((mode & S_IFMT) == bits)
            return type;
    }
    return fs::file_type::unknown;
}

FileInfo describe(const struct stat &status)
{
    FileInfo info;
    info.type = typeOf(status.st_mode);
    info.device = static_cast<std::uint64_t>(status.st_dev);
    info.file = static_cast<std::uint64_t>(status.st_ino);
    info.owner = {static_cast<std::uint32_t>(status.st_uid), static_cast<std::uint32_t>(status.st_gid)};
    info.own = status.st_uid == ::geteuid();
    info.mode = status.st_mode & 07777;
    info.links = static_cast<std::uint64_t>(status.st_nlink);
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.modified =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
    return info;
}

// Closes a descriptor on every path out of a scope.
struct Descriptor {
    const int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Waits until fd, which refused bytes for now, takes some again, or fails; the next write tells
// which.
std::error_code waitUntilWritable(int fd)
{
    pollfd wanted{fd, POLLOUT, 0};
    while (::poll(&wanted, 1, -1) < 0) {
        if (errno != EINTR)
            return lastError();
    }
    return {};
}

} // namespace

bool PosixFileSystem::flushesFileSystems() const
{
#ifdef __linux__
    return true;
#else
    return false;
#endif
}

bool PosixFileSystem::startsWriteBack() const
{
    return flushesFileSystems(); // both are Linux's own
}

std::error_code PosixFileSystem::readFile(const fs::path &path, ReadBuffer &buffer, std::string_view &read,
                                          std::chrono::system_clock::time_point &modified)
{
    // O_NONBLOCK so that a FIFO given as source cannot block the open; only regular files are read.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0)
        return lastError();
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        return lastError();
    if (!S_ISREG(info.st_mode))
        return S_ISDIR(info.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                     : make_error_code(FileError::NotRegular);
    if (info.st_size > maxSourceBytes)
        return FileError::TooLarge;
    modified = describe(info).modified;
    const auto size = static_cast<std::size_t>(info.st_size);
    char *const bytes = buffer.room(size);
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got = ::read(file.fd, bytes + filled, size - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // A regular file's reads wait for their bytes whatever the flag says, on every local
            // file system; one that does not (a network or user-space one) is made to wait here,
            // rather than for every source, which would cost two calls a record.
            const int error = errno;
            if (error == EAGAIN) {
                const int flags = ::fcntl(file.fd, F_GETFL);
                if (flags < 0)
                    return lastError();
                if ((flags & O_NONBLOCK) != 0) {
                    if (::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
                        return lastError();
                    continue;
                }
            }
            return {error, std::generic_category()};
        }
        if (got == 0)
            return FileError::Changed; // it shrank since its length was taken
        filled += static_cast<std::size_t>(got);
    }
    // What was read is the whole file only if nothing follows: one more byte says it grew.
    char more = 0;
    ssize_t got;
    while ((got = ::read(file.fd, &more, 1)) < 0 && errno == EINTR) {
    }
    if (got > 0)
        return FileError::Changed;
    read = std::string_view(bytes, filled);
    return {};
}

std::vector<Listed> PosixFileSystem::listFolder(const fs::path &folder, std::error_code &error)
{
    std::vector<Listed> entries;
    DIR *const listing = ::opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) {
        error = lastError();
        return entries;
    }
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(listing);
        if (entry == nullptr) {
            if (errno != 0)
                error = lastError();
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        Listed listed{fs::path(std::string(name)), fs::file_type::unknown, {}};
        if (entry->d_type == DT_DIR) {
            listed.type = fs::file_type::directory;
        } else if (entry->d_type == DT_REG) {
            listed.type = fs::file_type::regular;
        } else if (entry->d_type == DT_LNK) {
            listed.type = fs::file_type::symlink;
        } else if (entry->d_type == DT_UNKNOWN) {
            // A file system that does not say: the entry is looked at, and a look that fails is
            // told, not taken for "no folder".
            struct stat info {};
            if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                listed.failure = Reason(std::error_code(errno, std::generic_category()));
            else if (S_ISDIR(info.st_mode))
                listed.type = fs::file_type::directory;
        }
        entries.push_back(std::move(listed));
    }
    ::closedir(listing);
    return entries;
}

std::error_code PosixFileSystem::makeFolder(const fs::path &path)
{
    return checked(::mkdir(path.c_str(), 0777));
}

bool PosixFileSystem::sameFile(const fs::path &a, const fs::path &b)
{
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::error_code lookAtStream(StandardStream stream, FileInfo &info, bool &appending)
{
    const int fd = stream == StandardStream::Input ? STDIN_FILENO : STDOUT_FILENO;
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return lastError();
    info = describe(status);
    const int flags = ::fcntl(fd, F_GETFL);
    appending = flags != -1 && (flags & O_APPEND) != 0;
    return {};
}

fs::path PosixFileSystem::currentFolder()
{
    std::error_code error;
    return fs::current_path(error);
}

std::error_code PosixFileSystem::look(const Folder *at, const char *name, bool followLinks, FileInfo &info)
{
    struct stat status {};
    if (::fstatat(descriptorOf(at), name, &status, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return lastError();
    info = describe(status);
    return {};
}

std::error_code PosixFileSystem::openFolder(const Folder *at, const char *name, FileHandle &folder,
                                            bool &flushable)
{
    int descriptor = ::openat(descriptorOf(at), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    flushable = true;
#ifdef O_PATH
    if (descriptor < 0 && errno == EACCES) {
        // A folder that may be written to but not listed (a drop box): lookups and renames work.
        descriptor = ::openat(descriptorOf(at), name, O_PATH | O_DIRECTORY | O_CLOEXEC);
        flushable = false;
    }
#endif
    if (descriptor < 0)
        return lastError();
    folder = descriptor;
    return {};
}

std::error_code PosixFileSystem::readLink(const Folder &at, const char *name, std::string &to)
{
    to.assign(4096, '\0');
    const ssize_t length = ::readlinkat(descriptorOf(&at), name, to.data(), to.size());
    if (length < 0)
        return lastError();
    if (static_cast<std::size_t>(length) == to.size())
        return std::make_error_code(std::errc::filename_too_long);
    to.resize(static_cast<std::size_t>(length));
    return {};
}

std::error_code PosixFileSystem::createFile(const Folder &at, const char *name, unsigned mode, File &file)
{
    const int descriptor =
        ::openat(descriptorOf(&at), name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (descriptor < 0)
        return lastError();
    file = File(*this, descriptor);
    return {};
}

std::error_code PosixFileSystem::openToAppend(const Folder &at, const char *name, File &file)
{
    const int descriptor = ::openat(descriptorOf(&at), name, O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return lastError();
    file = File(*this, descriptor);
    return {};
}

std::error_code PosixFileSystem::lookInto(const Folder &at, const char *name, FileInfo &info,
                                          std::string &start, std::size_t most)
{
    const Descriptor file{
        ::openat(descriptorOf(&at), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    struct stat status {};
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0)
        return lastError();
    info = describe(status);
    start.assign(most, '\0');
    const ssize_t got = S_ISREG(status.st_mode) ? ::read(file.fd, start.data(), most) : 0;
    if (got < 0)
        return lastError();
    start.resize(static_cast<std::size_t>(got));
    return {};
}

std::error_code PosixFileSystem::rename(const Folder &at, const char *from, const char *to, bool replace)
{
    const int folder = descriptorOf(&at);
    if (!replace) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
        if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0)
            return {};
        if (errno != EINVAL && errno != ENOSYS)
            return lastError();
#endif
        // Neither the system nor the file system can refuse to replace: a look just before.
        struct stat info {};
        if (::fstatat(folder, to, &info, AT_SYMLINK_NOFOLLOW) == 0)
            return std::make_error_code(std::errc::file_exists);
        if (errno != ENOENT)
            return lastError();
    }
    return checked(::renameat(folder, from, folder, to));
}

std::error_code PosixFileSystem::remove(const Folder &at, const char *name)
{
    return checked(::unlinkat(descriptorOf(&at), name, 0));
}

std::error_code PosixFileSystem::createLock(const Folder &at, const char *name, File &lock)
{
    const int folder = descriptorOf(&at);
    const int fd = ::openat(folder, name, O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return lastError();
    // Another process that looks at the lock takes it for a moment, and waits for nothing while it
    // has it. A file system without locks keeps the file, which counts as held while it is there.
    int locked;
    while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    // One that found it held by nobody in that moment removed it: the name must still be this file.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        ::close(fd);
        return std::make_error_code(std::errc::file_exists);
    }
    (void)locked;
    lock = File(*this, fd);
    return {};
}

bool PosixFileSystem::isHeld(const Folder &at, const char *name)
{
    const int folder = descriptorOf(&at);
    const Descriptor file{::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0)
        return errno != ENOENT;
    if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0)
        return true;
    // Held by nobody: a leftover itself, removed while this holds it, so that no new holder can
    // have it (its maker finds the name gone, and makes another).
    struct stat held {};
    struct stat named {};
    if (::fstat(file.fd, &held) == 0 && ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        ::unlinkat(folder, name, 0);
    return false;
}

std::error_code PosixFileSystem::flushFolder(const Folder &folder)
{
    return flush(folder.handle());
}

std::error_code PosixFileSystem::write(FileHandle file, std::string_view bytes)
{
    const int fd = descriptorOf(file);
    while (!bytes.empty()) {
        const ssize_t written = writeSome(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0) {
            // Nothing was taken and nothing said why: trying again could only do the same.
            return FileError::NothingWritten;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const std::error_code error = waitUntilWritable(fd))
                return error;
        } else if (errno != EINTR) {
            return lastError();
        }
    }
    return {};
}

ssize_t PosixFileSystem::writeSome(int descriptor, const char *bytes, std::size_t size)
{
    return ::write(descriptor, bytes, size);
}

std::error_code PosixFileSystem::status(FileHandle file, FileInfo &info)
{
    struct stat status {};
    if (::fstat(descriptorOf(file), &status) != 0)
        return lastError();
    info = describe(status);
#ifdef __linux__
    struct statfs system {};
    info.processes = S_ISDIR(status.st_mode) && ::fstatfs(descriptorOf(file), &system) == 0 &&
                     system.f_type == PROC_SUPER_MAGIC;
#endif
    return {};
}

std::error_code PosixFileSystem::setModified(FileHandle file, std::chrono::system_clock::time_point modified)
{
    const auto since =
        std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    constexpr long long perSecond = 1000000000;
    // The time of reading stays as it is; only the time of writing is set.
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(since / perSecond - (since % perSecond < 0 ? 1 : 0)),
                                static_cast<long>((since % perSecond + perSecond) % perSecond)}};
    return checked(::futimens(descriptorOf(file), times));
}

std::error_code PosixFileSystem::keepOwnerAndMode(FileHandle file, const FileInfo &existing)
{
    const int fd = descriptorOf(file);
    if (existing.owner.user != ::geteuid() || existing.owner.group != ::getegid()) {
        // Root may give a file away; for anyone else the call fails, and the new file belongs to
        // whoever writes it, as any new file would.
        ::fchown(fd, static_cast<uid_t>(existing.owner.user), static_cast<gid_t>(existing.owner.group));
    }
    // The file was created with the mode less what the umask takes; the set-ID and sticky bits are
    // not always kept when a file is created, and a change of owner clears the set-ID bits. The
    // mode it got is looked at, rather than the umask, which can only be read by changing it for
    // every thread of the process at once.
    struct stat created {};
    if (::fstat(fd, &created) != 0)
        return lastError();
    if ((created.st_mode & 07777) != existing.mode)
        return checked(::fchmod(fd, static_cast<mode_t>(existing.mode)));
    return {};
}

std::error_code PosixFileSystem::flush(FileHandle file)
{
    return checked(::fsync(descriptorOf(file)));
}

std::error_code PosixFileSystem::flushFileSystem(FileHandle file)
{
#ifdef __linux__
    return checked(::syncfs(descriptorOf(file)));
#else
    (void)file;
    return std::make_error_code(std::errc::function_not_supported);
#endif
}

std::error_code PosixFileSystem::startWriteBack(FileHandle file)
{
#ifdef __linux__
    return checked(::sync_file_range(descriptorOf(file), 0, 0, SYNC_FILE_RANGE_WRITE));
#else
    (void)file;
    return std::make_error_code(std::errc::function_not_supported);
#endif
}

std::error_code PosixFileSystem::truncate(FileHandle file)
{
    // From the start again: the next write must not leave a hole of what was taken away.
    const int fd = descriptorOf(file);
    if (::ftruncate(fd, 0) != 0)
        return lastError();
    return ::lseek(fd, 0, SEEK_SET) < 0 ? lastError() : std::error_code();
}

std::error_code PosixFileSystem::close(FileHandle file)
{
    return checked(::close(descriptorOf(file)));
}

FileSystem &systemFileSystem()
{
    static PosixFileSystem system;
    return system;
}

fs::path systemPath(const fs::path &path)
{
    return path;
}

bool streamIsFile(StandardStream stream, const fs::path &path)
{
    struct stat open {};
    struct stat file {};
    return ::fstat(stream == StandardStream::Input ? STDIN_FILENO : STDOUT_FILENO, &open) == 0 &&
           S_ISREG(open.st_mode) && ::stat(path.c_str(), &file) == 0 && file.st_dev == open.st_dev &&
           file.st_ino == open.st_ino;
}

} // namespace quillarn
