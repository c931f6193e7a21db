// What ugi2sgf adds to a reason or a warning of the conversion: the option that gives another
// outcome, for the kinds of reason that have one. The core's reasons speak of the record alone.
#pragma once

#include "commandfailure.h"
#include "language.h"

#include <string>

namespace quillarn {

// Returns reason as ugi2sgf says it: 'character U+00E9 "é" cannot be written in code page 932
// (--encoding utf-8 writes it)', 'read as code page 932 (GN 莉子); it is also valid UTF-8
// (--source-encoding utf-8 reads it so)'; any other reason as it is.
inline std::string commandLineReason(const Reason &reason, ReasonKind kind)
{
    switch (kind) {
    case ReasonKind::NotInCodePage932:
        return said(Reason(Said::WrittenWithUtf8, {reason}));
    case ReasonKind::AlsoValidUtf8:
        return said(Reason(Said::ReadAsUtf8, {reason}));
    case ReasonKind::AlsoValidCp932:
        return said(Reason(Said::ReadAsCp932, {reason}));
    case ReasonKind::Other:
        break;
    }
    return said(reason);
}

inline std::string commandLineReason(const CommandFailure &failure)
{
    return commandLineReason(failure.said(), failure.kind());
}

inline std::string commandLineReason(const Warning &warning)
{
    return commandLineReason(warning.reason, warning.kind);
}

} // namespace quillarn
