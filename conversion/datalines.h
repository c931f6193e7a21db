// The data section read straight from a source's bytes: its lines, split as the translation splits
// them, and the moves whose characters up to the colour are ASCII, read without decoding. Every other
// move line goes to the translation of its decoded text (appendMoveNode), which defines every result
// and every reason; the two write the same nodes (movePoint, writeMoveNode).
#pragma once

#include "text.h"
#include "translation.h"

#include <cstddef>
#include <string_view>

namespace quillarn {

// Returns the offset of the first CR or LF in text at or after from, npos when there is none.
std::size_t findLineEnd(std::string_view text, std::size_t from);

// Calls onLine(line, number) for each line of the data section that starts at data, in order, the
// line without its line end, numbered from firstLine. The section ends at the end of the source or
// before a line that starts with "["; every line before its last ends in CR LF, and a lone CR or LF
// raises CommandFailure (failLoneLineEnd) before the lines after it are read.
template <typename OnLine> void forEachDataLine(std::string_view data, Int32 firstLine, OnLine &&onLine)
{
    Int32 number = firstLine;
    for (std::size_t start = 0;;) {
        if (start < data.size() && data[start] == '[')
            return;
        const std::size_t end = findLineEnd(data, start);
        if (end == std::string_view::npos) {
            onLine(data.substr(start), number);
            return;
        }
        if (data[end] != '\r' || end + 1 == data.size() || data[end + 1] != '\n')
            failLoneLineEnd(number, static_cast<char16_t>(data[end]));
        onLine(data.substr(start, end - start), number);
        start = end + 2;
        number = add32(number, 1);
    }
}

// A move read straight from a data line's bytes: its colour and its coordinate, lower-cased.
struct AsciiMove {
    char colour;
    char x;
    char y;

    // Returns the point of the move as its node holds it (movePoint), as code units for the replay.
    std::u16string_view point(bool emptyPass, char16_t (&units)[2]) const;
};

enum class LineKind {
    NoMove, // no comma: not a move
    Move,   // a move whose characters up to its colour are ASCII, read into the AsciiMove
    Other,  // anything else, left to the translation of the decoded line
};

// Reads the move of a data line when its characters up to the colour are ASCII and it is well
// formed as appendMoveNode takes it: the comma at position 3 to 32766, a colour A-Z after it.
LineKind readAsciiMove(std::string_view line, AsciiMove &move);

} // namespace quillarn
