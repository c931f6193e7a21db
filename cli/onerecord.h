// ugi2sgf FILE: one record, from a file or from standard input, to standard output or to the file
// that -o names, which is never the source itself and never replaced without --force.
#pragma once

#include "convert.h"

#include <optional>
#include <string>

namespace quillarn {

// The input that stands for standard input, and the -o that stands for standard output.
constexpr char standardStream[] = "-";

struct OneRecord {
    std::string input;                 // a path (UTF-8), or standardStream
    std::optional<std::string> output; // -o (UTF-8); none for standard output
    bool force = false;                // replace an existing output
    bool update = false;               // replace an existing output older than the source
    bool keepTime = false;             // give the output the source's time of last writing
    bool quiet = false;                // no warnings (but with conversion.strict), no note on code page 932
    ConversionOptions conversion;
};

// Converts the record, and tells standard error "INPUT: reason" when it fails and "INPUT: warning"
// for each warning. Returns true when the record was written.
bool convertOneRecord(const OneRecord &record);

} // namespace quillarn
