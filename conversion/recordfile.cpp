// Reading source files and writing record files for recordfile.h.
#include "recordfile.h"

#include "codepage.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <system_error>

#ifdef _WIN32
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillarn {

namespace {

namespace fs = std::filesystem;

constexpr long long maxSourceSize = std::numeric_limits<Int32>::max();

// A temporary file modified after this is not a leftover: a writer running now may be filling it.
// Two seconds before this process started, because a file's time is coarser than the clock's (a
// kernel tick; two seconds on FAT), so a file written just after the start can show an earlier time.
const fs::file_time_type leftoverBefore = fs::file_time_type::clock::now() - std::chrono::seconds(2);

// The part mkostemp fills in: six ASCII letters or digits after the last ".".
constexpr std::size_t temporarySuffix = 6;

template <typename Char> bool isAsciiLetterOrDigit(Char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isTemporaryNameOf(const fs::path::string_type &entry, const fs::path::string_type &name)
{
    if (name.empty() || entry.size() != name.size() + temporarySuffix + 2)
        return false;
    if (entry[0] != '.' || entry.compare(1, name.size(), name) != 0 || entry[name.size() + 1] != '.')
        return false;
    return std::all_of(entry.end() - temporarySuffix, entry.end(),
                       [](auto c) { return isAsciiLetterOrDigit(c); });
}

std::string tooLarge(long long size)
{
    return "file of " + std::to_string(size) + " bytes is too large (at most " +
           std::to_string(maxSourceSize) + " bytes)";
}

#ifndef _WIN32

[[noreturn]] void failWithErrno(int error)
{
    throw CommandFailure(std::strerror(error));
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
    // Returns the descriptor, which the caller now closes.
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now and reports the result: a failed close can mean the data never reached the disk.
    int close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// The mode a newly created file gets from the process's umask. umask can only be read by setting
// it, so it is read once; files are created by mkstemp with an explicit mode, which the brief
// window does not affect.
mode_t newFileMode()
{
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

void writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            failWithErrno(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

#endif

} // namespace

#ifndef _WIN32

std::string readFileBytes(const std::filesystem::path &path)
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
    if (info.st_size > maxSourceSize)
        throw CommandFailure(tooLarge(info.st_size));

    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            failWithErrno(errno);
        }
        if (got == 0)
            break; // the file shrank since its length was taken
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

StagedFile stageFile(const fs::path &requested, std::string_view bytes, LeftoverTemporaries &leftovers)
{
    StagedFile staged;
    staged.target = requested;
    struct stat existing {};
    bool exists = ::lstat(requested.c_str(), &existing) == 0;
    if (exists && S_ISLNK(existing.st_mode)) {
        // Through a symbolic link the file it points to is replaced, and the link stays a link.
        std::error_code error;
        staged.target = fs::weakly_canonical(requested, error);
        if (error)
            failWithErrno(error.value());
        exists = ::stat(staged.target.c_str(), &existing) == 0;
    }
    const fs::path &path = staged.target;
    if (path.filename().empty() || (exists && S_ISDIR(existing.st_mode)))
        failWithErrno(EISDIR);
    leftovers.removeFor(path);

    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0)
        failWithErrno(errno);
    try {
        // A replaced file keeps its owner where the system allows it (root may give a file away;
        // anyone else keeps their own) and then its permission bits.
        if (exists && ::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0) {
            // Not allowed: the new file belongs to whoever writes it, as any new file would.
        }
        const mode_t mode = exists ? (existing.st_mode & 07777) : newFileMode();
        if (::fchmod(fd.get(), mode) != 0)
            failWithErrno(errno);
        writeAll(fd.get(), bytes);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    staged.temporary = std::move(temporary);
    staged.descriptor = fd.release();
    return staged;
}

void writeFileAtomically(const fs::path &path, std::string_view bytes)
{
    LeftoverTemporaries leftovers;
    const StagedFile staged = stageFile(path, bytes, leftovers);
    Descriptor fd(staged.descriptor);
    try {
        if (::fsync(fd.get()) != 0)
            failWithErrno(errno);
        if (fd.close() != 0)
            failWithErrno(errno);
        if (::rename(staged.temporary.c_str(), staged.target.c_str()) != 0)
            failWithErrno(errno);
    } catch (...) {
        ::unlink(staged.temporary.c_str());
        throw;
    }
}

#else

std::string readFileBytes(const std::filesystem::path &path)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw CommandFailure("is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CommandFailure("cannot open the file");
    const auto size = std::filesystem::file_size(path, error);
    if (error)
        throw CommandFailure(error.message());
    if (size > static_cast<std::uintmax_t>(maxSourceSize))
        throw CommandFailure(tooLarge(static_cast<long long>(size)));
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw CommandFailure("is a folder");
    std::filesystem::path temporary = path;
    temporary += L".quillarn-tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(temporary, error);
            throw CommandFailure("cannot write the file");
        }
    }
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw CommandFailure(error.message());
    }
}

#endif

bool isTemporaryFileOf(const fs::path &entry, const fs::path &name)
{
    return isTemporaryNameOf(entry.native(), name.native());
}

void LeftoverTemporaries::removeFor(const fs::path &path)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const fs::path folder = path.parent_path();
    auto listed = folders_.find(folder.native());
    if (listed == folders_.end()) {
        listed = folders_.emplace(folder.native(), std::unordered_map<Name, std::vector<fs::path>>()).first;
        std::error_code error; // a folder that cannot be listed has no leftovers to remove
        for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error), end;
             !error && it != end; it.increment(error)) {
            const Name entry = it->path().filename().native();
            if (entry.size() <= temporarySuffix + 2)
                continue;
            Name name = entry.substr(1, entry.size() - temporarySuffix - 2);
            std::error_code ignored;
            if (!isTemporaryNameOf(entry, name) || !fs::is_regular_file(it->symlink_status(ignored)))
                continue;
            const fs::file_time_type modified = it->last_write_time(ignored);
            if (!ignored && modified < leftoverBefore)
                listed->second[std::move(name)].push_back(it->path());
        }
    }
    const auto leftovers = listed->second.find(path.filename().native());
    if (leftovers == listed->second.end())
        return;
    for (const fs::path &leftover : leftovers->second) {
        std::error_code ignored;
        fs::remove(leftover, ignored);
    }
    listed->second.erase(leftovers);
}

std::u16string readSourceFile(const std::filesystem::path &path)
{
    return decodeAnsi(readFileBytes(path));
}

std::string recordFileBytes(std::u16string_view recordText)
{
    // Without CA an SGF reader takes the record to be Latin-1 or guesses, and a guess can let the
    // second byte of a character (0x5C, "\\") escape the "]" after it. So the charset leads the
    // root node: Shift_JIS, the name every reader knows, or CP932 when the record holds characters
    // that only code page 932 has, which a strict Shift_JIS reader refuses.
    constexpr std::u16string_view rootStart = u"(;";
    if (recordText.substr(0, rootStart.size()) != rootStart)
        throw CommandFailure("the record has no root node to carry its charset");
    constexpr std::string_view shiftJis = "(;CA[Shift_JIS]";
    std::string bytes(shiftJis);
    appendAnsi(bytes, recordText.substr(rootStart.size()));
    if (usesCodePage932Extensions(std::string_view(bytes).substr(shiftJis.size())))
        bytes.replace(0, shiftJis.size(), "(;CA[CP932]");
    bytes += "\r\n";
    return bytes;
}

void writeRecordFile(const std::filesystem::path &path, std::u16string_view recordText)
{
    writeFileAtomically(path, recordFileBytes(recordText));
}

} // namespace quillarn
