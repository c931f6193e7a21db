// The file system of folders.h.
#include "folders.h"

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace quillarn {

namespace fs = std::filesystem;

#ifdef _WIN32

namespace {

// Returns the reason for a system error: the words of the other systems for the common ones, so
// that a message reads the same everywhere, the system's own otherwise.
std::error_code reasonOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
        return std::make_error_code(std::errc::permission_denied);
    case ERROR_DIRECTORY:
        return std::make_error_code(std::errc::not_a_directory);
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return std::make_error_code(std::errc::file_exists);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return std::make_error_code(std::errc::no_space_on_device);
    default:
        return {static_cast<int>(error), std::system_category()};
    }
}

bool isFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Creates the folder at path (long form) and its parents; returns the system's error, 0 once it
// is there.
DWORD makeFolder(const std::wstring &path)
{
    if (CreateDirectoryW(path.c_str(), nullptr))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        return isFolder(GetFileAttributesW(path.c_str())) ? ERROR_SUCCESS : error;
    const std::size_t parentEnd = path.find_last_of(L'\\');
    // Past the prefix and the drive or the share, there is nothing more to make.
    if (error != ERROR_PATH_NOT_FOUND || parentEnd == std::wstring::npos || parentEnd <= 7)
        return error;
    error = makeFolder(path.substr(0, parentEnd));
    if (error != ERROR_SUCCESS)
        return error;
    if (CreateDirectoryW(path.c_str(), nullptr) || isFolder(GetFileAttributesW(path.c_str())))
        return ERROR_SUCCESS;
    return GetLastError();
}

} // namespace

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

std::vector<Listed> listFolder(const fs::path &folder, std::error_code &error)
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
            error = reasonOf(GetLastError());
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
        error = reasonOf(GetLastError());
    FindClose(listing);
    return entries;
}

fs::file_type typeOf(const fs::path &path, std::error_code &error)
{
    error.clear();
    const DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return isFolder(attributes) ? fs::file_type::directory : fs::file_type::regular;
    const DWORD failure = GetLastError();
    if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND)
        return fs::file_type::not_found;
    error = reasonOf(failure);
    return fs::file_type::none;
}

void makeFolders(const fs::path &folder, std::error_code &error)
{
    error.clear();
    const DWORD failure = makeFolder(systemPath(folder).native());
    if (failure != ERROR_SUCCESS)
        error = reasonOf(failure);
}

bool sameFile(const fs::path &a, const fs::path &b)
{
    BY_HANDLE_FILE_INFORMATION info[2]{};
    const fs::path *const paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const HANDLE file = CreateFileW(systemPath(*paths[i]).c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        const bool told = GetFileInformationByHandle(file, &info[i]) != 0;
        CloseHandle(file);
        if (!told)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

#else

fs::path systemPath(const fs::path &path)
{
    return path;
}

std::vector<Listed> listFolder(const fs::path &folder, std::error_code &error)
{
    std::vector<Listed> entries;
    DIR *const listing = ::opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) {
        error.assign(errno, std::generic_category());
        return entries;
    }
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(listing);
        if (entry == nullptr) {
            if (errno != 0)
                error.assign(errno, std::generic_category());
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
                listed.failure = std::generic_category().message(errno);
            else if (S_ISDIR(info.st_mode))
                listed.type = fs::file_type::directory;
        }
        entries.push_back(std::move(listed));
    }
    ::closedir(listing);
    return entries;
}

fs::file_type typeOf(const fs::path &path, std::error_code &error)
{
    return fs::status(path, error).type();
}

void makeFolders(const fs::path &folder, std::error_code &error)
{
    fs::create_directories(folder, error);
}

bool sameFile(const fs::path &a, const fs::path &b)
{
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

#endif

} // namespace quillarn
