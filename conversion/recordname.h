// The names of record files, one rule for every front end: which names are UGI records (the
// window's open command, ugi2sgf's batch, the thumbnailer, the web page), and the name of the SGF
// record file a source becomes (the window's save dialog, the batch, the web page).
#pragma once

#include "text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace quillarn {

// The extension of UGI records, in any letter case of A-Z, and the one SGF record files are given.
constexpr std::string_view ugiExtension = ".ugi";
constexpr std::string_view sgfExtension = ".sgf";

// Returns true when name ends in extension (ASCII, such as ".ugi"), in any letter case of A-Z.
// Judged on its last characters alone: UTF-8 names and the window's UTF-16 paths alike.
template <typename Char> bool hasExtension(std::basic_string_view<Char> name, std::string_view extension)
{
    if (name.size() < extension.size())
        return false;
    const std::size_t start = name.size() - extension.size();
    for (std::size_t i = 0; i < extension.size(); ++i) {
        const auto unit = static_cast<std::make_unsigned_t<Char>>(name[start + i]);
        if (unit >= 0x80 || lowerAscii(static_cast<char>(unit)) != lowerAscii(extension[i]))
            return false;
    }
    return true;
}

// Returns true when name (UTF-8, as all names and paths in messages are) ends in ".ugi" in any letter
// case and has something before it: the name of a UGI record in a folder.
bool isRecordFileName(std::string_view name);

// Returns where the extension of a file name starts: at its last ".", unless that is its first
// character (".profile" has none); name.size() when it has none. For a name without folders.
template <typename Char> std::size_t extensionStart(std::basic_string_view<Char> name)
{
    const std::size_t dot = name.rfind(Char('.'));
    return dot == std::basic_string_view<Char>::npos || dot == 0 ? name.size() : dot;
}

// Returns the SGF file name (UTF-8) for a source file name (UTF-8): NAME.sgf, NAME being the name
// without its extension.
std::string targetFileName(std::string_view sourceName);

} // namespace quillarn
