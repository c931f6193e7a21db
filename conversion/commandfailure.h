// The one failure signal of the conversion core.
#pragma once

#include <stdexcept>
#include <string>

namespace quillarn {

// Raised by every step that fails. The reason is short and names what failed (which key, which
// line, which byte); the command line prints it after the file's name, the window shows it as the
// detail of its fixed message.
class CommandFailure : public std::runtime_error {
public:
    explicit CommandFailure(const std::string &reason) : std::runtime_error(reason) {}
    const char *reason() const noexcept { return what(); }
};

// Returns the reason of a failed write of an output, naming it (UTF-8) before the system's reason:
// "cannot write OUTPUT: REASON". A message starts with the source's name, so without this one
// could not tell which file could not be written.
inline std::string cannotWriteReason(const std::string &output, const std::string &reason)
{
    return "cannot write " + output + ": " + reason;
}

} // namespace quillarn
