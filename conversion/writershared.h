// What the two platform writers (writer_posix.cpp, writer_windows.cpp) share with each other;
// recordfile.cpp defines it, beside the rest of the writer that is the same everywhere.
#pragma once

#include <string>

namespace quillarn {

// Returns the reason for a source of size bytes, more than maxSourceBytes.
std::string sourceTooLarge(long long size);

// Returns six ASCII letters or digits, at random, for a temporary file's name ".NAME.XXXXXX".
// Several threads and programs may write into one folder at once: the name only needs to differ,
// since creating it never opens a file that exists.
std::string temporarySuffix();

// How many names a writer tries for a temporary file before it gives up.
constexpr int temporaryNameAttempts = 100;

} // namespace quillarn
