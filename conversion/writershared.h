// What the two platform writers (writer_posix.cpp, writer_windows.cpp) share with each other;
// recordfile.cpp defines most of it, beside the rest of the writer that is the same everywhere.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillarn {

// Returns the reason for a source of size bytes, more than maxSourceBytes.
std::string sourceTooLarge(long long size);

// Returns a name for a temporary file (isTemporaryFileName): twelve ASCII letters or digits at
// random. Several threads and programs may write into one folder at once: the name only needs to
// differ, since creating it never opens a file that exists.
std::string temporaryName();

// How many names a writer tries for a temporary file before it gives up.
constexpr int temporaryNameAttempts = 100;

// How every record file the writer writes starts, UTF-8 or code page 932: a temporary file that
// starts otherwise is not one of its own.
constexpr std::string_view recordFileStart = "(;CA[";

// Returns true when the first bytes of a file (as many as it has, up to the length of
// recordFileStart) are what a temporary file of the writer starts with.
bool startsAsRecordFile(std::string_view first);

// Removes the file entry, named as a temporary file, when it is surely a leftover of the writer
// (LeftoverTemporaries) last modified before the time given; otherwise leaves it. Each system's
// own: it looks at the file through a handle before removing it. Raises nothing.
void removeLeftover(const std::filesystem::path &entry, std::filesystem::file_time_type before);

} // namespace quillarn
