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

// The longest name, in bytes, that a file system of Linux, macOS or Windows, and unzip, takes for
// one file or folder.
constexpr std::size_t longestNameBytes = 255;

// Returns the path (UTF-8, "/" between folders) under which an archive holds the SGF record of the
// source at sourcePath (UTF-8, "/" between folders, as a page is given the files of a folder), so
// that it unpacks where it belongs and nowhere else on every system: the folders of sourcePath, then
// targetFileName of its name, each part made safe. An empty part is left out (no path starts at the
// root); "." and ".." are written "_" and "__"; a backslash (a folder's separator on Windows, where
// no name holds one) and a control character become "_"; a part longer than longestNameBytes is cut
// at a character, a file's name before its extension, which it keeps.
std::string archivePath(std::string_view sourcePath);

} // namespace quillarn
