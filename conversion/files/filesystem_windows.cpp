// The file system of Windows (filesystem.h): the system's calls on paths (a folder is held by its
// path, and a name in it is reached through that), the reading of a source, and
// the standard streams. A rename is written through to the disk and needs no flush
// of its folder; a whole file system cannot be flushed by a user, nor can write-back be started.
#include "filesystem.h"

#include "recordfile.h"
#include "systemerror_windows.h"

#include <algorithm>

#include <windows.h>

namespace quillarn {

namespace fs = std::filesystem;

namespace {

std::error_code lastError()
{
    return windowsError(GetLastError());
}

HANDLE handleOf(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

FileHandle fileOf(HANDLE handle)
{
    return reinterpret_cast<FileHandle>(handle);
}

fs::path pathOf(const Folder *at, const wchar_t *name)
{
    return at ? at->path() / name : fs::path(name);
}

// Closes a handle on every path out of a scope.
struct HandleCloser {
    void operator()(HANDLE handle) const
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

bool isFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Returns time as a FILETIME, which timeOf reads back.
FILETIME fileTimeOf(std::chrono::system_clock::time_point time)
{
    constexpr std::int64_t from1601To1970 = 116444736000000000ll;
    const std::int64_t ticks =
        std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count() * 10 +
        from1601To1970;
    const auto unsignedTicks = static_cast<std::uint64_t>(ticks < 0 ? 0 : ticks);
    return {static_cast<DWORD>(unsignedTicks & 0xFFFFFFFFu), static_cast<DWORD>(unsignedTicks >> 32)};
}

std::chrono::system_clock::time_point timeOf(FILETIME time)
{
    // A FILETIME counts tenths of a microsecond since 1601.
    const auto ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr std::uint64_t from1601To1970 = 116444736000000000ull;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::microseconds(
            (static_cast<std::int64_t>(ticks) - static_cast<std::int64_t>(from1601To1970)) / 10)));
}

FileInfo describe(const BY_HANDLE_FILE_INFORMATION &status)
{
    FileInfo info;
    info.type = (status.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? fs::file_type::symlink
                : isFolder(status.dwFileAttributes)                           ? fs::file_type::directory
                                                                              : fs::file_type::regular;
    info.device = status.dwVolumeSerialNumber;
    info.file = (static_cast<std::uint64_t>(status.nFileIndexHigh) << 32) | status.nFileIndexLow;
    info.links = status.nNumberOfLinks;
    info.size = (static_cast<std::uint64_t>(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
    info.readOnly = (status.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    info.modified = timeOf(status.ftLastWriteTime);
    return info;
}

// Returns the reason the temporary file could not replace path: a read-only file and a file that
// another program holds open are named as such, since both show only as access denied.
std::error_code replaceFailure(const fs::path &path, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            return windowsError(ERROR_FILE_READ_ONLY);
        const HANDLE probe =
            CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        else if (GetLastError() == ERROR_SHARING_VIOLATION)
            error = ERROR_SHARING_VIOLATION;
    }
    return windowsError(error);
}

class WindowsFileSystem : public FileSystem {
public:
    bool flushesFileSystems() const override { return false; }
    bool startsWriteBack() const override { return false; }
    std::error_code readFile(const fs::path &path, ReadBuffer &buffer, std::string_view &read,
                             std::chrono::system_clock::time_point &modified) override;
    std::vector<Listed> listFolder(const fs::path &folder, std::error_code &error) override;

    std::error_code makeFolder(const fs::path &path) override
    {
        return CreateDirectoryW(systemPath(path).c_str(), nullptr) ? std::error_code() : lastError();
    }

    fs::path currentFolder() override
    {
        std::error_code error;
        return fs::current_path(error);
    }

    bool sameFile(const fs::path &a, const fs::path &b) override
    {
        BY_HANDLE_FILE_INFORMATION info[2]{};
        const fs::path *const paths[2] = {&a, &b};
        for (int i = 0; i < 2; ++i) {
            const Handle file(CreateFileW(systemPath(*paths[i]).c_str(), 0,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            if (file.get() == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.get(), &info[i]))
                return false;
        }
        return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
               info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
               info[0].nFileIndexLow == info[1].nFileIndexLow;
    }

    std::error_code look(const Folder *at, const wchar_t *name, bool, FileInfo &info) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const fs::path path = at ? pathOf(at, name) : systemPath(name);
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
            return lastError();
        info = FileInfo();
        info.type = isFolder(data.dwFileAttributes) ? fs::file_type::directory : fs::file_type::regular;
        info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        info.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        info.modified = timeOf(data.ftLastWriteTime);
        return {};
    }

    std::error_code openFolder(const Folder *, const wchar_t *, FileHandle &folder, bool &flushable) override
    {
        // Held by its path: nothing to open, and nothing to flush after a rename there.
        folder = noFile;
        flushable = true;
        return {};
    }

    std::error_code readLink(const Folder &, const wchar_t *, NameText &) override
    {
        return std::make_error_code(std::errc::operation_not_supported); // links are not followed here
    }

    std::error_code createFile(const Folder &at, const wchar_t *name, unsigned, File &file) override
    {
        const HANDLE handle = CreateFileW(pathOf(&at, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return lastError();
        file = File(*this, fileOf(handle));
        return {};
    }

    std::error_code openToAppend(const Folder &at, const wchar_t *name, File &file) override
    {
        const HANDLE handle =
            CreateFileW(pathOf(&at, name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return lastError();
        file = File(*this, fileOf(handle));
        return {};
    }

    std::error_code lookInto(const Folder &at, const wchar_t *name, FileInfo &info, std::string &start,
                             std::size_t most) override
    {
        const Handle file(CreateFileW(pathOf(&at, name).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION status{};
        if (file.get() == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.get(), &status))
            return lastError();
        info = describe(status);
        if (GetFileType(file.get()) != FILE_TYPE_DISK)
            info.type = fs::file_type::character;
        start.assign(most, '\0');
        DWORD got = 0;
        if (info.type == fs::file_type::regular &&
            !ReadFile(file.get(), start.data(), static_cast<DWORD>(most), &got, nullptr))
            return lastError();
        start.resize(got);
        return {};
    }

    std::error_code rename(const Folder &at, const wchar_t *from, const wchar_t *to, bool replace) override
    {
        const fs::path source = pathOf(&at, from);
        const fs::path target = pathOf(&at, to);
        // Replaced in one step; MOVEFILE_WRITE_THROUGH returns once the rename is on the disk.
        // Without MOVEFILE_REPLACE_EXISTING the system itself refuses a target that appeared. A
        // virus scanner or indexer may hold either file for a moment after it was written, so a
        // refusal is tried again a few times (about a third of a second in all) before it counts.
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        DWORD error = ERROR_SUCCESS;
        for (DWORD wait = 10;; wait *= 2) {
            if (MoveFileExW(source.c_str(), target.c_str(), flags))
                return {};
            error = GetLastError();
            if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || wait > 160)
                break;
            Sleep(wait);
        }
        return replaceFailure(target, error);
    }

    std::error_code remove(const Folder &at, const wchar_t *name) override
    {
        return DeleteFileW(pathOf(&at, name).c_str()) ? std::error_code() : lastError();
    }

    std::error_code createLock(const Folder &at, const wchar_t *name, File &lock) override
    {
        // Shared with nobody: no other program opens or removes it while it is held, and the
        // system lets go of it when this process ends, however it ends.
        const HANDLE handle = CreateFileW(pathOf(&at, name).c_str(), GENERIC_READ, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return lastError();
        lock = File(*this, fileOf(handle));
        return {};
    }

    bool isHeld(const Folder &at, const wchar_t *name) override
    {
        Handle file(CreateFileW(pathOf(&at, name).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() != INVALID_HANDLE_VALUE) {
            // Held by nobody: a leftover itself. Removed once closed, unless a new holder has it.
            CloseHandle(file.release());
            DeleteFileW(pathOf(&at, name).c_str());
            return false;
        }
        const DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }

    std::error_code flushFolder(const Folder &) override
    {
        return {}; // its renames were written through
    }

protected:
    std::error_code write(FileHandle file, std::string_view bytes) override
    {
        constexpr std::size_t chunk = 1u << 30;
        while (!bytes.empty()) {
            const DWORD length = static_cast<DWORD>(bytes.size() < chunk ? bytes.size() : chunk);
            DWORD written = 0;
            if (!WriteFile(handleOf(file), bytes.data(), length, &written, nullptr))
                return lastError();
            if (written == 0)
                return FileError::NothingWritten;
            bytes.remove_prefix(written);
        }
        return {};
    }

    std::error_code status(FileHandle file, FileInfo &info) override
    {
        BY_HANDLE_FILE_INFORMATION status{};
        if (!GetFileInformationByHandle(handleOf(file), &status))
            return lastError();
        info = describe(status);
        return {};
    }

    std::error_code keepOwnerAndMode(FileHandle, const FileInfo &) override
    {
        return {}; // a new file is the user's, with what its folder gives
    }

    std::error_code setModified(FileHandle file, std::chrono::system_clock::time_point modified) override
    {
        const FILETIME written = fileTimeOf(modified);
        return SetFileTime(handleOf(file), nullptr, nullptr, &written) ? std::error_code() : lastError();
    }

    std::error_code flush(FileHandle file) override
    {
        return FlushFileBuffers(handleOf(file)) ? std::error_code() : lastError();
    }

    std::error_code flushFileSystem(FileHandle) override
    {
        return std::make_error_code(std::errc::function_not_supported);
    }

    std::error_code startWriteBack(FileHandle) override
    {
        return std::make_error_code(std::errc::function_not_supported);
    }

    std::error_code truncate(FileHandle file) override
    {
        LARGE_INTEGER start{};
        return SetFilePointerEx(handleOf(file), start, nullptr, FILE_BEGIN) && SetEndOfFile(handleOf(file))
                   ? std::error_code()
                   : lastError();
    }

    std::error_code close(FileHandle file) override
    {
        return CloseHandle(handleOf(file)) ? std::error_code() : lastError();
    }
};

std::error_code WindowsFileSystem::readFile(const fs::path &path, ReadBuffer &buffer, std::string_view &read,
                                            std::chrono::system_clock::time_point &modified)
{
    if (isFolder(GetFileAttributesW(path.c_str())))
        return std::make_error_code(std::errc::is_a_directory);
    // Others may read and write the file meanwhile, as they may on other systems; the length is
    // taken once, and a file that shrinks is read to its end.
    const Handle file(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return lastError();
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        return FileError::NotRegular;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return lastError();
    if (size.QuadPart > maxSourceBytes)
        return FileError::TooLarge;
    FILETIME written{};
    if (!GetFileTime(file.get(), nullptr, nullptr, &written))
        return lastError();
    modified = timeOf(written);

    const auto total = static_cast<std::size_t>(size.QuadPart);
    char *const bytes = buffer.room(total);
    std::size_t filled = 0;
    while (filled < total) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes + filled, static_cast<DWORD>(total - filled), &got, nullptr))
            return lastError();
        if (got == 0)
            return FileError::Changed; // it shrank since its length was taken
        filled += got;
    }
    char more = 0;
    DWORD got = 0;
    if (ReadFile(file.get(), &more, 1, &got, nullptr) && got != 0)
        return FileError::Changed; // it grew
    read = std::string_view(bytes, filled);
    return {};
}

std::vector<Listed> WindowsFileSystem::listFolder(const fs::path &folder, std::error_code &error)
{
    std::vector<Listed> entries;
    std::wstring pattern = systemPath(folder.empty() ? fs::path(L".") : folder).native();
    if (pattern.empty() || pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    // The listing gives each entry's attributes: no entry is looked at again by a path, which the
    // system would take apart differently.
    WIN32_FIND_DATAW found{};
    const HANDLE listing = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                            nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (listing == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) // a drive's root with nothing in it
            error = lastError();
        return entries;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const DWORD attributes = found.dwFileAttributes;
        // Links and junctions are reparse points; so are files and folders kept in the cloud, which
        // are what they say.
        const bool link =
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
            (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
        const fs::file_type type = link                   ? fs::file_type::symlink
                                   : isFolder(attributes) ? fs::file_type::directory
                                                          : fs::file_type::regular;
        entries.push_back({fs::path(name), type, {}});
    } while (FindNextFileW(listing, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        error = lastError();
    FindClose(listing);
    return entries;
}

} // namespace

FileSystem &systemFileSystem()
{
    static WindowsFileSystem system;
    return system;
}

fs::path systemPath(const fs::path &path)
{
    std::wstring text = path.native();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0)
        return text;
    fs::path full(text);
    if (!full.has_root_directory()) {
        std::error_code error;
        const fs::path current = fs::current_path(error);
        // "C:name" is relative to the folder that drive was last in, which only the system knows.
        if (error || full.has_root_name())
            return path;
        full = current / full;
    } else if (!full.has_root_name()) {
        std::error_code error;
        full = fs::current_path(error).root_name() / full; // "\name": on the current drive
    }
    std::wstring normal = full.lexically_normal().native();
    if (normal.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + normal.substr(2); // \\server\share\...
    return L"\\\\?\\" + normal;
}

std::error_code lookAtStream(StandardStream stream, FileInfo &info, bool &appending)
{
    appending = false;
    const HANDLE handle =
        GetStdHandle(stream == StandardStream::Input ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return windowsError(ERROR_INVALID_HANDLE);
    info = FileInfo();
    info.type = fs::file_type::unknown;
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return {};
    BY_HANDLE_FILE_INFORMATION status{};
    if (!GetFileInformationByHandle(handle, &status))
        return lastError();
    info = describe(status);
    return {};
}

bool streamIsFile(StandardStream stream, const fs::path &path)
{
    const HANDLE input = GetStdHandle(stream == StandardStream::Input ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE);
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

} // namespace quillarn
