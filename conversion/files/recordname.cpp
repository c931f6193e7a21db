// The record file names of recordname.h.
#include "recordname.h"

#include <algorithm>

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

namespace {

// Returns part with what no system takes in a name replaced, cut to longestNameBytes with its
// extension (keep bytes at its end) kept.
std::string safePart(std::string_view part, std::size_t keep)
{
    if (part == ".")
        return "_";
    if (part == "..")
        return "__";
    std::string safe;
    for (const char c : part) {
        const auto byte = static_cast<unsigned char>(c);
        safe += c == '\\' || byte < 0x20 || byte == 0x7F ? '_' : c;
    }
    if (safe.size() <= longestNameBytes)
        return safe;
    // Cut before the extension, at the start of a UTF-8 character.
    std::size_t cut = longestNameBytes - keep;
    while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
        --cut;
    return safe.substr(0, cut) + safe.substr(safe.size() - keep);
}

} // namespace

std::string archivePath(std::string_view sourcePath)
{
    std::string path;
    const std::size_t slash = sourcePath.rfind('/');
    const std::string_view folders =
        slash == std::string_view::npos ? std::string_view() : sourcePath.substr(0, slash);
    for (std::size_t start = 0; start < folders.size();) {
        const std::size_t end = std::min(folders.find('/', start), folders.size());
        if (end > start)
            (path += safePart(folders.substr(start, end - start), 0)) += '/';
        start = end + 1;
    }
    const std::string name =
        targetFileName(sourcePath.substr(slash == std::string_view::npos ? 0 : slash + 1));
    return path + safePart(name, name.size() - extensionStart(std::string_view(name)));
}

} // namespace quillarn
