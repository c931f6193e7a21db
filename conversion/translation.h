// Translation of a UGI record (as decoded text) into the text of an SGF record: the root node from
// nine header keys, then one node per move line of the data section. Pure functions: no files, no
// state. The UGI text as this program reads it is described in docs/ugi-format.md.
#pragma once

#include "text.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

// Returns the record text "(" + root node + move nodes + ")".
// Raises CommandFailure (with a reason naming the key or line) when "[Header]", a header key, the
// CR LF after a key or a separator a key needs is missing, or when translateMoves raises.
std::u16string translateRecord(std::u16string_view source);

// Returns the move nodes (";B[qd];W[dp]..."), empty when the source has no "[Data]" marker or no
// move lines; a pass is written as emptyPass says (appendMoveNode). Raises CommandFailure for a move
// line whose first comma stands at position 1 or 2 or beyond 32766, or whose colour character is not
// an upper-case letter A-Z, and for a data line that ends in a lone LF or CR.
std::u16string translateMoves(std::u16string_view source, bool emptyPass = false);

// The nine header keys, in the order of the root node's properties.
extern const std::u16string_view headerKeys[9];

// Returns the parts of source that the translation reads, as views of it: the line of each header
// key found after "[Header]" (from the key to just before the CR LF after it, or to the end), then
// the data section (from just after the first "[Data]" to just before the CR LF of the line that
// opens the next section, or to the end). Raises nothing.
std::vector<std::u16string_view> translatedParts(std::u16string_view source);

// The header keys' lines, as the root node is made of them: found in the decoded source, or in
// the bytes of a source, decoding only those lines.
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
    std::u16string size;     // the SZ value, unescaped
    std::u16string handicap; // the HA value, unescaped
};

// Returns the root node of the header. Raises CommandFailure as translateRecord does for a header.
RootNode translateRoot(HeaderLines &header);

// Returns true when a pass on a board of size (the SZ value as written) is written as an empty
// value: on a board of more than 19 lines, where "tt" is a point.
bool passIsEmptyOn(std::u16string_view size);

// Appends the move node of one data line (without its line end) to nodes; nothing for a line
// without a comma. A pass ("YS") is written "tt", or as an empty value with emptyPass. lineNumber is
// the line's number in the source, for the reason. Raises CommandFailure as translateMoves does for
// such a line.
void appendMoveNode(std::u16string &nodes, std::u16string_view line, Int32 lineNumber, bool emptyPass);

// Raises the CommandFailure of a data line that ends in the lone line end character c (LF or CR).
[[noreturn]] void failLoneLineEnd(Int32 lineNumber, char16_t c);

} // namespace quillarn
