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
#include <windows.h>

#include <random>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillarn {

namespace {

namespace fs = std::filesystem;

static_assert(maxSourceBytes == std::numeric_limits<Int32>::max());

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
           std::to_string(maxSourceBytes) + " bytes)";
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
    if (info.st_size > maxSourceBytes)
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

void writeFileAtomically(const fs::path &path, std::string_view bytes, LeftoverTemporaries &leftovers)
{
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

namespace {

// Returns the reason for a system error code: the short English reasons the other systems give for
// the common failures, so that a message reads the same everywhere, and otherwise the system's own
// text (in English where the system has it), as UTF-8.
std::string systemReason(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "No such file or directory";
    case ERROR_ACCESS_DENIED:
        return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "the file is in use by another program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "No space left on device";
    default:
        break;
    }
    constexpr DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    wchar_t *text = nullptr;
    DWORD length = FormatMessageW(flags, nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    if (length == 0)
        length = FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L' ' || text[length - 1] == L'.'))
        --length;
    std::string reason;
    if (length > 0) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        reason.resize(static_cast<std::size_t>(size > 0 ? size : 0));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), reason.data(), size, nullptr,
                            nullptr);
    }
    if (text != nullptr)
        LocalFree(text);
    return reason.empty() ? "system error " + std::to_string(error) : reason;
}

[[noreturn]] void failWithError(DWORD error)
{
    throw CommandFailure(systemReason(error));
}

[[noreturn]] void failWithLastError()
{
    failWithError(GetLastError());
}

// Closes a handle on every path out of a scope.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return handle_; }
    // Closes now and reports the result: a failed close can mean the data never reached the disk.
    bool close()
    {
        const bool closed = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

// Returns the attributes of path, INVALID_FILE_ATTRIBUTES when it cannot be looked at.
DWORD attributesOf(const std::filesystem::path &path)
{
    return GetFileAttributesW(path.c_str());
}

bool isFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Returns six characters from [A-Za-z0-9] for a temporary file name. Several threads and programs
// may save into one folder at once: the name only needs to differ, since creating it never opens
// a file that exists.
std::wstring randomSuffix()
{
    static const wchar_t characters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator([] {
        std::random_device device;
        std::seed_seq seed{
            static_cast<unsigned>(device()), static_cast<unsigned>(GetCurrentProcessId()),
            static_cast<unsigned>(GetCurrentThreadId()),
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof characters / sizeof characters[0] - 2);
    std::wstring suffix(6, L'0');
    for (wchar_t &c : suffix)
        c = characters[pick(generator)];
    return suffix;
}

// Creates the temporary file for target, ".NAME.XXXXXX" beside it; raises with the system's reason.
HANDLE createTemporary(const std::filesystem::path &target, std::filesystem::path &temporary)
{
    const std::wstring prefix = L"." + target.filename().native() + L".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = target.parent_path() / (prefix + randomSuffix());
        const HANDLE handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return handle;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            failWithLastError();
    }
    failWithError(ERROR_FILE_EXISTS);
}

void writeAll(HANDLE handle, std::string_view bytes)
{
    constexpr std::size_t chunk = 1u << 30;
    while (!bytes.empty()) {
        const DWORD length = static_cast<DWORD>(bytes.size() < chunk ? bytes.size() : chunk);
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), length, &written, nullptr))
            failWithLastError();
        bytes.remove_prefix(written);
    }
}

// Returns the reason the temporary file could not replace path: a read-only file and a file that
// another program holds open are named as such, since both show only as access denied.
std::string replaceFailure(const std::filesystem::path &path, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = attributesOf(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            return "the file is read-only";
        const HANDLE probe =
            CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        else if (GetLastError() == ERROR_SHARING_VIOLATION)
            error = ERROR_SHARING_VIOLATION;
    }
    return systemReason(error);
}

} // namespace

std::string readFileBytes(const std::filesystem::path &path)
{
    if (isFolder(attributesOf(path)))
        throw CommandFailure("Is a directory");
    // Others may read and write the file meanwhile, as they may on other systems; the length is
    // taken once, and a file that shrinks is read to its end.
    const Handle file(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        failWithLastError();
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        throw CommandFailure("not a regular file");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        failWithLastError();
    if (size.QuadPart > maxSourceBytes)
        throw CommandFailure(tooLarge(size.QuadPart));

    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled), &got,
                      nullptr))
            failWithLastError();
        if (got == 0)
            break; // the file shrank since its length was taken
        filled += got;
    }
    bytes.resize(filled);
    return bytes;
}

void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes,
                         LeftoverTemporaries &leftovers)
{
    const DWORD existing = attributesOf(path);
    if (path.filename().empty() || isFolder(existing))
        throw CommandFailure("Is a directory");
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0)
        throw CommandFailure("the file is read-only");
    leftovers.removeFor(path);

    std::filesystem::path temporary;
    Handle file(createTemporary(path, temporary));
    try {
        writeAll(file.get(), bytes);
        if (!FlushFileBuffers(file.get()))
            failWithLastError();
        if (!file.close())
            failWithLastError();
        // Replaced in one step; MOVEFILE_WRITE_THROUGH returns once the rename is on the disk. A
        // virus scanner or indexer may hold either file for a moment after it was written, so a
        // refusal is tried again a few times (about a third of a second in all) before it counts.
        DWORD error = ERROR_SUCCESS;
        for (DWORD wait = 10;; wait *= 2) {
            if (MoveFileExW(temporary.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return;
            error = GetLastError();
            if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || wait > 160)
                break;
            Sleep(wait);
        }
        throw CommandFailure(replaceFailure(path, error));
    } catch (...) {
        if (file.get() != INVALID_HANDLE_VALUE)
            file.close();
        DeleteFileW(temporary.c_str());
        throw;
    }
}

#endif

void writeFileAtomically(const fs::path &path, std::string_view bytes)
{
    LeftoverTemporaries leftovers;
    writeFileAtomically(path, bytes, leftovers);
}

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
