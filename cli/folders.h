// The file system as a batch walks it: folders listed with each entry's type, paths looked at,
// folders made, files compared. On Windows every path reaches the system in the long form
// (\\?\C:\...), which it takes as it is: names that end in a dot or a space, names of devices
// (con, nul) and paths over 260 characters all reach the file or folder they name.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace quillarn {

// An entry of a folder, with its type as the listing gives it (symlink for a link, which a walk
// never follows), or the reason it could not be looked at.
struct Listed {
    std::filesystem::path name;
    std::filesystem::file_type type = std::filesystem::file_type::unknown;
    std::string failure; // set when the entry's type could not be told
};

// Returns the entries of folder (not "." and ".."), each with its type from the listing itself, so
// that no entry is looked at by itself (but on a file system that does not say). Sets error to the
// system's reason when the folder cannot be read, with what could be read of it returned.
std::vector<Listed> listFolder(const std::filesystem::path &folder, std::error_code &error);

// Returns the form of path that the system takes as it is: the long form on Windows (absolute,
// with "." and ".." taken away as the system would), path itself elsewhere.
std::filesystem::path systemPath(const std::filesystem::path &path);

// Returns the type of what path names, following links (not_found when nothing is there); sets
// error to the system's reason when it cannot be told.
std::filesystem::file_type typeOf(const std::filesystem::path &path, std::error_code &error);

// Creates folder and its parents that are missing; sets error to the system's reason on failure.
void makeFolders(const std::filesystem::path &folder, std::error_code &error);

// Returns true when the system finds that a and b are the same file (device and file number).
bool sameFile(const std::filesystem::path &a, const std::filesystem::path &b);

} // namespace quillarn
