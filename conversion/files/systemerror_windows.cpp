// The reasons of Windows's error codes (systemerror_windows.h).
#include "systemerror_windows.h"

#include <string>

#include <windows.h>

namespace quillarn {

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
    case ERROR_FILE_READ_ONLY:
        return "the file is read-only";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "No space left on device";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "File exists";
    case ERROR_DIRECTORY:
        return "Not a directory";
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

// The system's error codes, with their reasons, comparing equal to std::errc where a caller asks.
class WindowsErrors : public std::error_category {
public:
    const char *name() const noexcept override { return "windows"; }
    std::string message(int code) const override { return systemReason(static_cast<DWORD>(code)); }
    std::error_condition default_error_condition(int code) const noexcept override
    {
        switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::errc::no_such_file_or_directory;
        case ERROR_ACCESS_DENIED:
            return std::errc::permission_denied;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return std::errc::file_exists;
        case ERROR_DIRECTORY:
            return std::errc::not_a_directory;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::errc::no_space_on_device;
        default:
            return {code, *this};
        }
    }
};

} // namespace

std::error_code windowsError(unsigned long error)
{
    static const WindowsErrors category;
    return {static_cast<int>(error), category};
}

} // namespace quillarn
