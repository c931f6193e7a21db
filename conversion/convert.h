// The one way a UGI source becomes an SGF record file, for the window, ugi2sgf and the thumbnailer
// alike: the bytes read in their encoding, translated, checked on a Go board (the handicap stones
// the record implies, the first move a reader's board would refuse) and encoded.
#pragma once

#include "sgfoutput.h"
#include "sourcekind.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

struct ConversionOptions {
    SourceEncoding source = SourceEncoding::Auto;
    RecordEncoding output = RecordEncoding::Ansi;
};

struct Conversion {
    std::string bytes;                 // the record file: the record on one line, then CR LF
    std::vector<std::string> warnings; // what a reader would show differently from the source, in order
};

// Returns the record file for the source bytes and what the replay of its moves found. Raises
// CommandFailure with the reason when the source cannot be read in its encoding, translated or
// encoded; then nothing of the record is returned.
Conversion convertSource(std::string_view source, const ConversionOptions &options);

} // namespace quillarn
