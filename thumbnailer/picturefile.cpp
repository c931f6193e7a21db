// The record and picture files of picturefile.h, through the library's file system and writer.
#include "picturefile.h"

#include "filesystem.h"
#include "recordfile.h"
#include "sourcefile.h"

#include <filesystem>

namespace {

using quillarn::CommandFailure;

std::string tooLarge(long long size)
{
    return "file of " + std::to_string(size) + " bytes is too large for a picture (at most " +
           std::to_string(maxRecordBytes) + " bytes)";
}

} // namespace

std::string readRecord(const std::string &path, FileIdentity &identity)
{
    namespace fs = std::filesystem;
    quillarn::FileSystem &system = quillarn::systemFileSystem();
    // Judged by a look first, so that a FIFO is never opened and a large file never read.
    quillarn::FileInfo info;
    if (const std::error_code error = system.look(nullptr, path.c_str(), true, info))
        throw CommandFailure(error);
    if (info.type == fs::file_type::directory)
        throw CommandFailure(std::make_error_code(std::errc::is_a_directory));
    if (info.type != fs::file_type::regular)
        throw CommandFailure(quillarn::FileError::NotRegular);
    if (info.size > static_cast<std::uint64_t>(maxRecordBytes))
        throw CommandFailure(tooLarge(static_cast<long long>(info.size)));
    quillarn::ReadBuffer buffer;
    const std::string_view bytes = quillarn::readFileInto(system, path, buffer);
    if (bytes.size() > static_cast<std::size_t>(maxRecordBytes))
        throw CommandFailure(quillarn::FileError::Changed); // it grew past the size looked at
    identity = {info.device, info.file};
    return std::string(bytes);
}

void writePicture(const std::string &path, std::string_view png, const std::string &input,
                  const FileIdentity &inputIdentity)
{
    namespace fs = std::filesystem;
    // By name, and by the file the output leads to through any link.
    std::error_code outputError, inputError;
    const fs::path output = fs::absolute(path, outputError).lexically_normal();
    if (!outputError && output == fs::absolute(input, inputError).lexically_normal() && !inputError)
        throw OutputIsInput();
    quillarn::FileInfo info;
    if (!quillarn::systemFileSystem().look(nullptr, path.c_str(), true, info) &&
        info.device == inputIdentity.device && info.file == inputIdentity.file)
        throw OutputIsInput();
    quillarn::LeftoverTemporaries leftovers;
    quillarn::WriteOptions options;
    options.newOrEmptyInPlace = true;
    quillarn::writeFileAtomically(fs::path(path), png, leftovers, options);
}
