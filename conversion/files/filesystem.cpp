// The part of the file-system layer (filesystem.h) that is the same for every file system: folders
// held open, and folders made with their parents.
#include "filesystem.h"

#include "commandfailure.h"

namespace quillarn {

namespace fs = std::filesystem;

namespace {

// Opens the folder of path and puts its names on the disk.
std::error_code flushFolderOf(FileSystem &system, const fs::path &path)
{
    const fs::path parent = path.parent_path();
    FileHandle handle = noFile;
    bool flushable = true;
    const NameText here = fs::path(".").native();
    if (const std::error_code error =
            system.openFolder(nullptr, parent.empty() ? here.c_str() : parent.c_str(), handle, flushable))
        return error;
    const Folder folder(system, parent, handle, flushable);
    // One that cannot be read cannot be flushed by itself: there the system flushes it in its time.
    return flushable ? system.flushFolder(folder) : std::error_code();
}

} // namespace

File::File(File &&other) noexcept : system_(other.system_), handle_(other.handle_)
{
    other.handle_ = noFile;
}

File &File::operator=(File &&other) noexcept
{
    if (this != &other) {
        close();
        system_ = other.system_;
        handle_ = other.handle_;
        other.handle_ = noFile;
    }
    return *this;
}

std::error_code File::write(std::string_view bytes)
{
    return isOpen() ? system_->write(handle_, bytes) : std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code File::status(FileInfo &info)
{
    return isOpen() ? system_->status(handle_, info) : std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code File::keepOwnerAndMode(const FileInfo &existing)
{
    return isOpen() ? system_->keepOwnerAndMode(handle_, existing)
                    : std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code File::setModified(std::chrono::system_clock::time_point modified)
{
    return isOpen() ? system_->setModified(handle_, modified)
                    : std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code File::flushFileSystem()
{
    return isOpen() ? system_->flushFileSystem(handle_)
                    : std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code File::startWriteBack()
{
    return isOpen() ? system_->startWriteBack(handle_) : std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code File::flush()
{
    return isOpen() ? system_->flush(handle_) : std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code File::truncate()
{
    return isOpen() ? system_->truncate(handle_) : std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code File::close()
{
    if (handle_ == noFile)
        return {};
    const FileHandle handle = handle_;
    handle_ = noFile;
    return system_->close(handle);
}

Folder::~Folder()
{
    if (handle_ != noFile)
        system_.close(handle_);
}

const FileInfo &Folder::info()
{
    if (!looked_) {
        if (const std::error_code error = system_.status(handle_, info_))
            throw CommandFailure(error);
        looked_ = true;
    }
    return info_;
}

FolderPtr openFolder(FileSystem &system, const Folder *at, const NameChar *name, fs::path path)
{
    FileHandle handle = noFile;
    bool flushable = true;
    if (const std::error_code error = system.openFolder(at, name, handle, flushable))
        throw CommandFailure(error);
    return std::make_shared<Folder>(system, std::move(path), handle, flushable);
}

FolderPtr openFolderOf(FileSystem &system, const fs::path &path)
{
    fs::path folder = path.parent_path();
    const NameText name = folder.empty() ? fs::path(".").native() : folder.native();
    return openFolder(system, nullptr, name.c_str(), std::move(folder));
}

std::error_code makeFolders(FileSystem &system, const fs::path &folder, bool flushParents, fs::path *failed)
{
    std::error_code error = system.makeFolder(folder);
    // Missing above, or something else there above (which a system may tell either way): the folder
    // above is made first, or is the one that fails.
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
        const fs::path parent = folder.parent_path();
        // A path whose first folder is missing (a drive that is not there) has nothing more to make.
        if (!parent.empty() && parent.native().size() < folder.native().size()) {
            if (const std::error_code above = makeFolders(system, parent, flushParents, failed))
                return above;
            error = system.makeFolder(folder);
        }
    }
    if (error == std::errc::file_exists) {
        FileInfo info;
        error = system.look(nullptr, folder.c_str(), true, info);
        if (!error && info.type != fs::file_type::directory)
            error = std::make_error_code(std::errc::not_a_directory);
    } else if (!error && flushParents) {
        // A new folder is a new name in its parent, which reaches the disk when the parent is flushed.
        error = flushFolderOf(system, folder);
    }
    if (error && failed != nullptr)
        *failed = folder;
    return error;
}

} // namespace quillarn
