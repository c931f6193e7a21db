// Where a write goes on Windows (writerparts.h): the name itself, which the new file replaces (a
// symbolic link too: it is not followed), or a device, which is written into as it stands.
#include "writerparts.h"

#include <windows.h>

namespace quillarn::writer {

namespace {

// Returns true when path names a device rather than a file: a name the system keeps for one (NUL,
// CON, COM1, in any folder and with any extension on most versions) or a path in the device
// space (\\.\NAME), which the system's full form of the path shows alike.
bool isDevice(const std::filesystem::path &path)
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

} // namespace

Target resolveTarget(FileSystem &system, FolderPtr folder, NameText name, ExistingTarget existing)
{
    if (name.empty() || name == L"." || name == L"..")
        failWith(std::make_error_code(std::errc::is_a_directory));
    Target target{folder, name};
    if (isDevice(folder->path() / name)) {
        target.exists = target.special = true;
        return target;
    }
    const std::error_code looked = system.look(folder.get(), name.c_str(), false, target.info);
    if (looked == std::errc::no_such_file_or_directory)
        return target;
    if (looked)
        failWith(looked);
    target.exists = true;
    if (existing == ExistingTarget::Keep)
        throw TargetExists();
    if (target.info.type == std::filesystem::file_type::directory)
        failWith(std::make_error_code(std::errc::is_a_directory));
    // Refused before anything is written: the rename would be refused after.
    if (target.info.readOnly)
        throw CommandFailure(Said::ReadOnly);
    return target;
}

} // namespace quillarn::writer
