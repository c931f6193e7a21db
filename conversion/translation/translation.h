// The translation of a UGI record into SGF, written in the text operations of text.h: the root node
// from the nine header keys' lines, and the move node of one data line. The conversion (convert.h)
// hands over every line it does not read straight from the bytes, so these define every record and
// every reason. Pure functions: no files, no state. docs/ugi-format.md describes the UGI text as this
// program reads it.
#pragma once

#include "text.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace quillarn {

// The nine header keys, in the order of the root node's properties.
extern const std::u16string_view headerKeys[9];

// The header keys' lines, as the root node is made of them: found in the bytes of a source, decoding
// only those lines, or (the reference the tests hold the conversion to) in its decoded text.
class HeaderLines {
public:
    virtual ~HeaderLines() = default;
    // Returns true when the source holds "[Header]".
    virtual bool hasHeader() = 0;
    // Returns true when the source holds a CR LF anywhere.
    virtual bool hasCrLf() = 0;
    // Returns false when key does not occur after "[Header]". Otherwise sets line to the text from
    // key's first occurrence there to just before the CR LF that follows it, and ended to whether
    // one follows (the line runs to the end of the source when none does).
    virtual bool find(std::u16string_view key, std::u16string_view &line, bool &ended) = 0;
};

// The root node and the two values a board needs.
struct RootNode {
    std::u16string node;     // ";GN[...]...KM[...]"
    std::u16string size;     // the SZ value, unescaped: the Size= value, trimmedNumber
    std::u16string handicap; // the HA value, unescaped
};

// Returns the root node of the header. Raises CommandFailure, with a reason naming the key, when
// "[Header]", a header key, the CR LF after a key or a separator a key needs is missing.
RootNode translateRoot(HeaderLines &header);

// Returns value without the blanks (spaces, tabs) around it when what they surround is a number of
// decimal digits, as a reader takes a number; otherwise value as it is.
std::u16string_view trimmedNumber(std::u16string_view value);

// Returns true when a pass on a board of size (the SZ value as written) is written as an empty
// value: on a board of more than 19 lines, where "tt" is a point, and on a board whose size is not
// a number, where it may be one.
bool passIsEmptyOn(std::u16string_view size);

// Where a data line stands, for a reason: the line's number in the source, and the number its move
// has in the record (1 for the first), 0 for a line that is not a move (holds no comma).
struct DataLinePlace {
    Int32 line = 0;
    Int32 move = 0;
};

// Appends the move node of one data line (without its line end) to nodes; nothing for a line
// without a comma. Raises CommandFailure, its reason starting "line 16 (move 5): ", when the first
// comma stands at position 1 or 2 or beyond 32766, or when the character after it is not an
// upper-case letter A-Z.
void appendMoveNode(std::u16string &nodes, std::u16string_view line, DataLinePlace place, bool emptyPass);

// Raises the CommandFailure of a data line that ends in the lone line end character c (LF or CR):
// "line 12 (move 4): line ends in LF without CR", without the move for a line that holds none.
[[noreturn]] void failLoneLineEnd(DataLinePlace place, char16_t c);

// Writes to point the point of a move whose coordinate is x, y (lower-cased): the pass "YS" as "tt",
// or with emptyPass as no point at all (an empty value); returns its length, 2 or 0. For the code
// units of a decoded line and the bytes of an ASCII one alike, so that both write the same nodes.
template <typename Char> std::size_t movePoint(Char x, Char y, bool emptyPass, Char (&point)[2])
{
    if (x == Char('y') && y == Char('s')) { // "tt" is a point on a board over 19 lines
        if (emptyPass)
            return 0;
        x = y = Char('t');
    }
    point[0] = x;
    point[1] = y;
    return 2;
}

// Writes the move node ";" colour "[" point "]" to node, with a "\" before each "\" or "]" of the
// point, and returns its length. Built in place: this runs once per move of records with millions.
template <typename Char>
std::size_t writeMoveNode(Char (&node)[8], Char colour, const Char (&point)[2], std::size_t length)
{
    std::size_t size = 0;
    node[size++] = Char(';');
    node[size++] = colour;
    node[size++] = Char('[');
    for (std::size_t i = 0; i < length; ++i) {
        if (point[i] == Char('\\') || point[i] == Char(']'))
            node[size++] = Char('\\');
        node[size++] = point[i];
    }
    node[size++] = Char(']');
    return size;
}

} // namespace quillarn
