// What ugi2sgf adds to a reason or a warning of the conversion: the option that gives another
// outcome, for the kinds of reason that have one. The core's reasons speak of the record alone.
#pragma once

#include "commandfailure.h"

#include <string>

namespace quillarn {

// Returns reason as ugi2sgf says it: 'character U+00E9 "é" cannot be written in code page 932
// (--encoding utf-8 writes it)', 'read as code page 932 (GN 莉子); it is also valid UTF-8
// (--source-encoding utf-8 reads it so)'; any other reason as it is.
inline std::string commandLineReason(const std::string &reason, ReasonKind kind)
{
    switch (kind) {
    case ReasonKind::NotInCodePage932:
        return reason + " (--encoding utf-8 writes it)";
    case ReasonKind::AlsoValidUtf8:
        return reason + " (--source-encoding utf-8 reads it so)";
    case ReasonKind::AlsoValidCp932:
        return reason + " (--source-encoding cp932 reads it so)";
    case ReasonKind::Other:
        break;
    }
    return reason;
}

inline std::string commandLineReason(const CommandFailure &failure)
{
    return commandLineReason(failure.reason(), failure.kind());
}

inline std::string commandLineReason(const Warning &warning)
{
    return commandLineReason(warning.reason, warning.kind);
}

} // namespace quillarn
