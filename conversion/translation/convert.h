// The one way a UGI source becomes an SGF record file, for the window, ugi2sgf and the thumbnailer
// alike: the bytes read in their encoding, translated, checked on a Go board (the handicap stones
// the record implies, the first move a reader's board would refuse) and encoded.
#pragma once

#include "commandfailure.h"
#include "game.h"
#include "recordsink.h"
#include "sgfoutput.h"
#include "sourcekind.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

struct ConversionOptions {
    SourceEncoding source = SourceEncoding::Auto;
    RecordEncoding output = RecordEncoding::Ansi;
    bool strict = false;                // a record with warnings is not written
    GameDetail game = GameDetail::None; // what the report's position holds of the game
};

struct ConversionReport {
    std::vector<Warning> warnings; // what a reader would show differently from the source, in order
    bool written = true;           // false when strict held the record back for its warnings
    GamePosition position;         // the board the moves were replayed on, as SGF readers replay them
};

// Converts the source bytes into a record file written to sink, and returns what the replay of its
// moves found. Everything about the source is checked before the first byte reaches the sink: when
// the source cannot be read in its encoding, translated or encoded, this raises CommandFailure with
// the reason (and its kind, such as ReasonKind::NotInCodePage932) and the sink has received nothing.
// With options.strict, a record with warnings is not written either. Raises what sink raises once
// writing has begun.
ConversionReport convertRecord(std::string_view source, const ConversionOptions &options, RecordSink &sink);

struct Conversion {
    std::string bytes;             // the record file: the record on one line, then CR LF
    std::vector<Warning> warnings; // as ConversionReport's
    GamePosition position;         // as ConversionReport's
};

// Returns the record file for the source bytes (convertRecord into a buffer, strict or not as
// options say: a record held back has no bytes). Raises as convertRecord does.
Conversion convertSource(std::string_view source, const ConversionOptions &options);

} // namespace quillarn
