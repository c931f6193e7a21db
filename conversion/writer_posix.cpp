// The writer on POSIX systems (recordfile.h): reading a source, and writing a record file through a
// temporary file created, renamed and flushed relative to a handle on its folder, or into a FIFO or
// device as it stands. Every call that changes a file or a folder goes through a WriterSystem.
#include "writerposix.h"
#include "writershared.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillarn {

namespace posixwriter {

namespace {

const char noBytesTaken[] = "the system took none of the bytes written";

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

// The temporary file of a record, beside its target: created with the first bytes written to it,
// with the target's permission bits (for a new file, those the umask leaves of 0666) and, where the
// system allows, its owner, after the leftovers in its folder have been removed. Raises
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

} // namespace

std::string unflushedFolder(const char *reason)
{
    return std::string("written, but its folder could not be flushed to disk: ") + reason;
}

std::optional<Staged> writeTemporary(WriterSystem &calls, const Target &target, const RecordProducer &produce,
                                     LeftoverTemporaries &leftovers, std::size_t *size)
{
    TemporaryFile file(calls, target, leftovers);
    produce(file);
    if (size != nullptr)
        *size = file.size();
    if (!file.created())
        return std::nullopt;
    return file.release();
}

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

} // namespace posixwriter

using namespace posixwriter;

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

} // namespace quillarn
