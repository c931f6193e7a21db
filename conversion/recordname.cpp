// The record file names of recordname.h.
#include "recordname.h"

namespace quillarn {

bool isRecordFileName(std::string_view name)
{
    return name.size() > ugiExtension.size() && hasExtension(name, ugiExtension);
}

std::string targetFileName(std::string_view sourceName)
{
    std::string name(sourceName.substr(0, extensionStart(sourceName)));
    name += sgfExtension;
    return name;
}

} // namespace quillarn
