// The data section read straight from a source's bytes: its lines, split as the translation splits
// them, and the moves whose characters up to the colour are ASCII, read without decoding. Every other
// move line goes to the translation of its decoded text (appendMoveNode), which defines every result
// and every reason; the two write the same nodes (movePoint, writeMoveNode).
#pragma once

#include "text.h"
#include "translation.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quillarn {

// Returns the offset of the first CR or LF in text at or after from, npos when there is none.
// Defined here, as the rest, so that the conversion's two passes over every line inline it.
inline std::size_t findLineEnd(std::string_view text, std::size_t from)
{
    // Eight bytes at a time: data lines are short, and this runs over every byte of the data twice.
    std::size_t at = from;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, sizeof word);
        const std::uint64_t lf = word ^ (ones * '\n');
        const std::uint64_t cr = word ^ (ones * '\r');
        // A zero byte in lf or cr is a line end; the lowest flagged byte is always a true one.
        const std::uint64_t found = (((lf - ones) & ~lf) | ((cr - ones) & ~cr)) & highs;
        if (found != 0)
            return at + static_cast<std::size_t>(__builtin_ctzll(found) / 8);
    }
#endif
    for (; at < text.size(); ++at) {
        if (text[at] == '\n' || text[at] == '\r')
            return at;
    }
    return std::string_view::npos;
}

// Returns the place of the data line from start to end in data, a data section whose lines before
// start all end in CR LF: its number, and its move's number when it holds a comma (each line before
// it that holds one is a move). A comma is one byte in both encodings, and never the second byte of
// a character. Looked for only when a line fails: the conversion does not count moves.
inline DataLinePlace dataLinePlace(std::string_view data, std::size_t start, std::size_t end, Int32 number)
{
    const auto holdsComma = [](std::string_view line) { return line.find(',') != std::string_view::npos; };
    if (!holdsComma(data.substr(start, end - start)))
        return {number, 0};
    Int32 move = 1;
    for (std::size_t at = 0; at < start;) {
        const std::size_t lineEnd = data.find("\r\n", at);
        move = add32(move, holdsComma(data.substr(at, lineEnd - at)) ? 1 : 0);
        at = lineEnd + 2;
    }
    return {number, move};
}

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
            failLoneLineEnd(dataLinePlace(data, start, end, number), static_cast<char16_t>(data[end]));
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
    std::size_t comma; // where the first comma stands in the line

    // Returns the point of the move as its node holds it (movePoint), as code units for the replay.
    std::u16string_view point(bool emptyPass, char16_t (&units)[2]) const
    {
        char bytes[2] = {};
        const std::size_t length = movePoint(x, y, emptyPass, bytes);
        units[0] = static_cast<unsigned char>(bytes[0]);
        units[1] = static_cast<unsigned char>(bytes[1]);
        return {units, length};
    }
};

enum class LineKind {
    NoMove, // no comma: not a move
    Move,   // a move whose characters up to its colour are ASCII, read into the AsciiMove
    Other,  // anything else, left to the translation of the decoded line
};

// Reads the move of a data line when its characters up to the colour are ASCII and it is well
// formed as appendMoveNode takes it: the comma at position 3 to 32766, a colour A-Z after it.
inline LineKind readAsciiMove(std::string_view line, AsciiMove &move)
{
    std::size_t comma = 0;
    for (; comma < line.size() && line[comma] != ','; ++comma) {
        if (static_cast<unsigned char>(line[comma]) >= 0x80)
            return LineKind::Other;
    }
    if (comma == line.size())
        return LineKind::NoMove;
    // comma counts from 0: the 1-based positions 3 to 32766 that appendMoveNode takes without a
    // reason, the colour's 16-bit position still within reach.
    if (comma < 2 || comma >= 32766 || comma + 1 == line.size() || line[comma + 1] < 'A' ||
        line[comma + 1] > 'Z')
        return LineKind::Other;
    move.colour = line[comma + 1];
    move.comma = comma;
    move.x = lowerAscii(line[comma - 2]);
    move.y = lowerAscii(line[comma - 1]);
    return LineKind::Move;
}

} // namespace quillarn
