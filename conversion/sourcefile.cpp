// Reading a source file (sourcefile.h) through the system's file system.
#include "sourcefile.h"

#include "filesystem.h"
#include "text.h"

#include <limits>

namespace quillarn {

static_assert(maxSourceBytes == std::numeric_limits<Int32>::max());

std::string sourceTooLarge(long long size)
{
    return "file of " + std::to_string(size) + " bytes is too large (at most " +
           std::to_string(maxSourceBytes) + " bytes)";
}

std::string_view readFileInto(const std::filesystem::path &path, ReadBuffer &buffer)
{
    return systemFileSystem().readFile(path, buffer);
}

std::string readFileBytes(const std::filesystem::path &path)
{
    ReadBuffer buffer;
    return std::string(readFileInto(path, buffer));
}

} // namespace quillarn
