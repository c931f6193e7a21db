// The record and picture files of picturefile.h, with POSIX calls: the thumbnailer runs where
// freedesktop.org file managers do.
#include "picturefile.h"

#include "recordfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using quillarn::CommandFailure;

[[noreturn]] void failWithErrno(int error)
{
    throw CommandFailure(std::strerror(error));
}

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
    // Closes the file and returns 0, or the error of the close (a write that failed late, as on
    // NFS).
    int close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

std::string tooLarge(long long size)
{
    return "file of " + std::to_string(size) + " bytes is too large for a picture (at most " +
           std::to_string(maxRecordBytes) + " bytes)";
}

// Returns 0 once all of bytes is written to fd, or the reason it is not.
int writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0) {
            return EIO; // a device that takes nothing would be asked forever
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd ready{fd, POLLOUT, 0}; // a FIFO or terminal shared with a non-blocking reader
            ::poll(&ready, 1, -1);
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// Opens the output for writing and sets made when this made it, which O_EXCL tells. Opening a file
// that is there changes nothing in it yet; a FIFO waits for its reader, as cp's output does. A
// symbolic link is not followed here (ELOOP): links are the writer's, under its rule.
int openOutput(const char *path, bool &made)
{
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;
    const int fd = ::open(path, flags | O_CREAT | O_EXCL, 0666);
    made = fd >= 0;
    return fd < 0 && errno == EEXIST ? ::open(path, flags) : fd;
}

// Returns true when the file open as info is written where it stands: a FIFO or a device, or a
// regular file that is empty, ours and of one name (one a file manager made for the picture and may
// hold open). Any other is replaced whole by the writer, as ugi2sgf replaces it: a file with
// something in it, another user's, one with another name that would change too.
bool isWrittenInPlace(const struct stat &info)
{
    if (!S_ISREG(info.st_mode))
        return true;
    return info.st_size == 0 && info.st_uid == ::geteuid() && info.st_nlink == 1;
}

bool isSameFile(const struct stat &info, const FileIdentity &identity)
{
    return info.st_dev == identity.device && info.st_ino == identity.inode;
}

} // namespace

std::string readRecord(const std::string &path, FileIdentity &identity)
{
    // O_NONBLOCK so that a FIFO cannot block the open; only regular files are read.
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        failWithErrno(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        failWithErrno(errno);
    if (S_ISDIR(info.st_mode))
        failWithErrno(EISDIR);
    if (!S_ISREG(info.st_mode))
        throw CommandFailure("not a regular file");
    if (info.st_size > maxRecordBytes)
        throw CommandFailure(tooLarge(info.st_size));
    identity = {info.st_dev, info.st_ino};
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got == 0)
            break; // the file shrank since its size was taken
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd ready{fd.get(), POLLIN, 0}; // a file system that asks to wait: waited for, not spun on
            ::poll(&ready, 1, -1);
        } else if (errno != EINTR) {
            failWithErrno(errno);
        }
    }
    bytes.resize(filled);
    return bytes;
}

void writePicture(const std::string &path, std::string_view png, const std::string &input,
                  const FileIdentity &inputIdentity)
{
    namespace fs = std::filesystem;
    // By name first, so that nothing is opened for writing then; by the file itself once it is open.
    std::error_code outputError, inputError;
    const fs::path output = fs::absolute(path, outputError).lexically_normal();
    if (!outputError && output == fs::absolute(input, inputError).lexically_normal() && !inputError)
        throw OutputIsInput();
    bool made = false;
    Descriptor fd(openOutput(path.c_str(), made));
    if (fd.get() < 0 && errno != ELOOP)
        failWithErrno(errno);
    struct stat info {};
    if (fd.get() >= 0 ? ::fstat(fd.get(), &info) != 0 : ::stat(path.c_str(), &info) != 0 && errno != ENOENT)
        failWithErrno(errno);
    if (isSameFile(info, inputIdentity))
        throw OutputIsInput();
    if (fd.get() < 0 || !isWrittenInPlace(info)) {
        // A link, and a file that holds something, is another's or has other names: the writer
        // follows a link only under the rule of shared folders, and an old picture is kept until a
        // whole new one is on the disk (a full disk, a file size limit or a kill part way leaves it
        // as it was).
        if (fd.get() >= 0)
            fd.close();
        quillarn::writeFileAtomically(fs::path(path), png);
        return;
    }
    const bool regular = S_ISREG(info.st_mode);
    int error = writeAll(fd.get(), png);
    // Flushed, so that a write the disk refuses late (NFS, a full thin volume) is not taken for done.
    if (error == 0 && regular && ::fsync(fd.get()) != 0)
        error = errno;
    if (error != 0 && regular) {
        // No part of a picture stays: the file is empty again, or gone when it was made here (and
        // its name still leads to it).
        struct stat now {};
        if (!made) {
            if (::ftruncate(fd.get(), 0) != 0) {
                // The write's reason is the one to give.
            }
        } else if (::stat(path.c_str(), &now) == 0 && isSameFile(now, {info.st_dev, info.st_ino})) {
            ::unlink(path.c_str());
        }
    }
    if (error == 0)
        error = fd.close();
    if (error != 0)
        failWithErrno(error);
}
