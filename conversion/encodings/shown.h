// Names and reasons as ugi2sgf's messages show them: whatever bytes a file name holds, a message
// stays one line that says what it says, on a terminal or in a log.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillarn {

// Returns text (UTF-8: a name, or a line of a message) as it is shown in a message: control
// characters written as escapes (\n, \t, \r, \x1b; \u0085 for the C1 controls, the line and
// paragraph separators and the bidirectional formatting characters) and each byte that is not
// part of valid UTF-8 as \xHH, so that a name cannot move the cursor, talk to the terminal, split
// a message or reverse what follows it. Everything else (UTF-8 names in any script) is kept.
// Shown text shows as it is: escapes are printable ASCII.
std::string shownText(std::string_view text);

// shownText of a path in UTF-8, on every system (on Windows path.string() is the ANSI code page,
// which cannot hold every name).
std::string shownPath(const std::filesystem::path &path);

} // namespace quillarn
