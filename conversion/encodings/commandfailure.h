// The one failure signal of the conversion core, the warnings of a conversion, and the kinds of
// reason that a front end can recognise.
#pragma once

#include "catalogue.h"

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quillarn {

// What a reason is about, for the reasons that a front end can follow with its own hint: the option
// of ugi2sgf, the control of the web page that gives another outcome. The core's reasons speak of the
// record alone and name no option of any front end.
enum class ReasonKind : std::uint8_t {
    Other,
    // A character that code page 932 has no code for: the record can be written in UTF-8.
    NotInCodePage932,
    // A warning: the source was read as code page 932 although the parts the conversion reads are
    // valid UTF-8 too, and read so they would give other text.
    AlsoValidUtf8,
    // A warning: the source was read as UTF-8 although code page 932 reads it too, nearly as well.
    AlsoValidCp932,
};

// Raised by every step that fails. The reason is short and names what failed (which key, which
// line, which byte); the command line prints it after the file's name, the window shows it as the
// detail of its fixed message.
class CommandFailure : public std::runtime_error {
public:
    CommandFailure(Reason reason, ReasonKind kind = ReasonKind::Other)
        : std::runtime_error(reason.english()), reason_(std::move(reason)), kind_(kind)
    {
    }
    // A failure of the system, error, which is the reason unless one is given: a front end tells a
    // full disk by its code, whatever the words.
    explicit CommandFailure(std::error_code error) : CommandFailure(Reason(error), error) {}
    CommandFailure(Reason reason, std::error_code error)
        : std::runtime_error(reason.english()), reason_(std::move(reason)), kind_(ReasonKind::Other),
          error_(error)
    {
    }
    // The reason in English, as scripts read it.
    const char *reason() const noexcept { return what(); }
    // The reason, to be said in any language.
    const Reason &said() const noexcept { return reason_; }
    ReasonKind kind() const noexcept { return kind_; }
    // The system's error behind the failure; empty for a failure of the record itself.
    std::error_code error() const noexcept { return error_; }

private:
    Reason reason_;
    ReasonKind kind_;
    std::error_code error_;
};

// Returns true when error says that the medium written to is full: out of space or out of quota, on
// every system (Windows' ERROR_DISK_FULL and ERROR_HANDLE_DISK_FULL compare equal to the first).
inline bool isMediumFull(std::error_code error)
{
    return error == std::errc::no_space_on_device
#ifdef EDQUOT
           || error == std::error_code(EDQUOT, std::generic_category())
#endif
        ;
}

// What a reader of a record that converted would see differently from its source: one line, and its
// kind.
struct Warning {
    Reason reason;
    ReasonKind kind = ReasonKind::Other;

    bool operator==(const Warning &other) const { return reason == other.reason && kind == other.kind; }
    bool operator!=(const Warning &other) const { return !(*this == other); }
};

// Returns the reason of a failed write of an output, naming it (UTF-8) before the system's reason:
// "cannot write OUTPUT: REASON". A message starts with the source's name, so without this one
// could not tell which file could not be written.
inline Reason cannotWriteReason(const std::string &output, Reason reason)
{
    return Reason(Said::CannotWrite, {output, std::move(reason)});
}

} // namespace quillarn
