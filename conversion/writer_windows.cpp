// The writer on Windows (recordfile.h, groupwriter.h): reading a source, and writing record files
// through a temporary file beside the target that replaces it in one step, written through to the
// disk, or into a device as it stands. A group writes each file at once: the system flushes nothing
// in groups.
#include "groupwriter.h"
#include "recordfile.h"
#include "writershared.h"

#include <windows.h>

namespace quillarn {

namespace {

namespace fs = std::filesystem;

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

bool isFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Creates a temporary file beside target (isTemporaryFileName); raises with the system's reason.
HANDLE createTemporary(const fs::path &target, fs::path &temporary)
{
    for (int attempt = 1;; ++attempt) {
        const std::string name = temporaryName();
        temporary = target.parent_path() / std::wstring(name.begin(), name.end());
        const HANDLE handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return handle;
        const DWORD error = GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == temporaryNameAttempts)
            failWithError(error);
    }
}

// Returns true when path names a device rather than a file: a name the system keeps for one (NUL,
// CON, COM1, in any folder and with any extension on most versions) or a path in the device
// space (\\.\NAME), which the system's full form of the path shows alike.
bool isDevice(const fs::path &path)
{
    constexpr std::wstring_view deviceSpace = L"\\\\.\\";
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            return false;
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    return full.compare(0, deviceSpace.size(), deviceSpace) == 0;
}

void writeAll(HANDLE handle, std::string_view bytes)
{
    constexpr std::size_t chunk = 1u << 30;
    while (!bytes.empty()) {
        const DWORD length = static_cast<DWORD>(bytes.size() < chunk ? bytes.size() : chunk);
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), length, &written, nullptr))
            failWithLastError();
        if (written == 0)
            throw CommandFailure("the system took none of the bytes written");
        bytes.remove_prefix(written);
    }
}

// Returns the reason the temporary file could not replace path: a read-only file and a file that
// another program holds open are named as such, since both show only as access denied.
std::string replaceFailure(const fs::path &path, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
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

// Writes bytes into the device path as it stands (never creating a file); raises with the system's
// reason.
void writeIntoDevice(const fs::path &path, std::string_view bytes)
{
    Handle device(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (device.get() == INVALID_HANDLE_VALUE)
        failWithLastError();
    writeAll(device.get(), bytes);
    if (!device.close())
        failWithLastError();
}

} // namespace

bool isWrittenInto(const fs::path &path)
{
    return isDevice(path);
}

bool standardInputIsFile(const fs::path &path)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    BY_HANDLE_FILE_INFORMATION inputInfo{};
    if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(input, &inputInfo))
        return false;
    const Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION fileInfo{};
    return file.get() != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file.get(), &fileInfo) &&
           fileInfo.dwVolumeSerialNumber == inputInfo.dwVolumeSerialNumber &&
           fileInfo.nFileIndexHigh == inputInfo.nFileIndexHigh &&
           fileInfo.nFileIndexLow == inputInfo.nFileIndexLow;
}

void removeLeftover(const fs::path &entry, fs::file_time_type before)
{
    // Looked at through the handle that is read, not through a link.
    Handle file(CreateFileW(entry.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.get() == INVALID_HANDLE_VALUE || GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        info.nNumberOfLinks != 1)
        return;
    char first[recordFileStart.size()];
    DWORD got = 0;
    std::error_code error;
    const fs::file_time_type modified = fs::last_write_time(entry, error);
    if (!ReadFile(file.get(), first, sizeof first, &got, nullptr) ||
        !startsAsRecordFile(std::string_view(first, got)) || error || modified >= before)
        return;
    file.close();
    DeleteFileW(entry.c_str());
}

std::string_view readFileInto(const fs::path &path, ReadBuffer &buffer)
{
    if (isFolder(GetFileAttributesW(path.c_str())))
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
        throw CommandFailure(sourceTooLarge(size.QuadPart));

    const auto total = static_cast<std::size_t>(size.QuadPart);
    char *const bytes = buffer.room(total);
    std::size_t filled = 0;
    while (filled < total) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes + filled, static_cast<DWORD>(total - filled), &got, nullptr))
            failWithLastError();
        if (got == 0)
            break; // the file shrank since its length was taken
        filled += got;
    }
    return std::string_view(bytes, filled);
}

void writeFileAtomically(const fs::path &path, std::string_view bytes, LeftoverTemporaries &leftovers,
                         const WriteOptions &options)
{
    const bool keep = options.existing == ExistingTarget::Keep;
    if (path.filename().empty())
        throw CommandFailure("Is a directory");
    if (isDevice(path)) {
        if (!options.writeIntoSpecialFiles)
            throw CommandFailure(specialTargetInGroup);
        writeIntoDevice(path, bytes);
        return;
    }
    const DWORD existing = GetFileAttributesW(path.c_str());
    if (keep && existing != INVALID_FILE_ATTRIBUTES)
        throw TargetExists();
    if (isFolder(existing))
        throw CommandFailure("Is a directory");
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0)
        throw CommandFailure("the file is read-only");
    leftovers.removeIn(path.parent_path());

    fs::path temporary;
    Handle file(createTemporary(path, temporary));
    try {
        writeAll(file.get(), bytes);
        if (!FlushFileBuffers(file.get()))
            failWithLastError();
        if (!file.close())
            failWithLastError();
        // Replaced in one step; MOVEFILE_WRITE_THROUGH returns once the rename is on the disk.
        // Without MOVEFILE_REPLACE_EXISTING the system itself refuses a target that appeared. A
        // virus scanner or indexer may hold either file for a moment after it was written, so a
        // refusal is tried again a few times (about a third of a second in all) before it counts.
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (keep ? 0 : MOVEFILE_REPLACE_EXISTING);
        DWORD error = ERROR_SUCCESS;
        for (DWORD wait = 10;; wait *= 2) {
            if (MoveFileExW(temporary.c_str(), path.c_str(), flags))
                return;
            error = GetLastError();
            if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || wait > 160)
                break;
            Sleep(wait);
        }
        if (keep && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
            throw TargetExists();
        throw CommandFailure(replaceFailure(path, error));
    } catch (...) {
        if (file.get() != INVALID_HANDLE_VALUE)
            file.close();
        DeleteFileW(temporary.c_str());
        throw;
    }
}

namespace {

// A buffer for a record made before it is written, which tells whether anything was.
class Buffer : public StringSink {
public:
    bool written = false;
    void write(std::string_view more) override
    {
        written = true;
        StringSink::write(more);
    }
};

} // namespace

bool writeFileAtomically(const fs::path &path, const RecordProducer &produce, LeftoverTemporaries &leftovers,
                         const WriteOptions &options)
{
    if (options.existing == ExistingTarget::Keep &&
        GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES && !isDevice(path))
        throw TargetExists();
    Buffer record;
    produce(record);
    if (!record.written)
        return false;
    writeFileAtomically(path, record.bytes, leftovers, options);
    return true;
}

GroupLimits defaultGroupLimits()
{
    return {};
}

struct GroupWriter::Group {
    std::vector<std::size_t> written; // the ids of the files added
};

GroupWriter::GroupWriter(LeftoverTemporaries &leftovers, const GroupLimits &limits)
    : leftovers_(leftovers), limits_(limits), group_(std::make_unique<Group>())
{
}

GroupWriter::~GroupWriter() = default;

bool GroupWriter::full() const
{
    return group_->written.size() >= limits_.files;
}

bool GroupWriter::empty() const
{
    return group_->written.empty();
}

bool GroupWriter::add(std::size_t id, const fs::path &path, std::string_view bytes, ExistingTarget existing)
{
    return add(
        id, path, [bytes](RecordSink &sink) { sink.write(bytes); }, existing);
}

bool GroupWriter::add(std::size_t id, const fs::path &path, const RecordProducer &produce,
                      ExistingTarget existing, TargetLook /*look*/)
{
    // Each file is written at once: the group only reports them.
    WriteOptions options;
    options.existing = existing;
    options.writeIntoSpecialFiles = false;
    if (!writeFileAtomically(path, produce, leftovers_, options))
        return false;
    group_->written.push_back(id);
    return true;
}

std::vector<GroupWriter::Result> GroupWriter::commit()
{
    std::vector<Result> results;
    results.reserve(group_->written.size());
    for (const std::size_t id : group_->written)
        results.push_back({id, {}});
    discard();
    return results;
}

void GroupWriter::discard()
{
    group_->written.clear();
}

} // namespace quillarn
