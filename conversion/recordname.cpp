// The record file names of recordname.h.
#include "recordname.h"

#include "recordfile.h"

#include <filesystem>

namespace quillarn {

std::string targetFileName(const std::string &sourceName)
{
    if (isRecordFileName(sourceName))
        return sourceName.substr(0, sourceName.size() - 4) + ".sgf";
    return std::filesystem::u8path(sourceName).stem().u8string() + ".sgf";
}

} // namespace quillarn
