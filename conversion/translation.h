// Translation of a UGI record (as decoded text) into the text of an SGF record: the root node from
// nine header keys, then one node per move line of the data section. Pure functions: no files, no
// state. The UGI text as this program reads it is described in docs/ugi-format.md.
#pragma once

#include <string>
#include <string_view>

namespace quillarn {

// Returns the record text "(" + root node + move nodes + ")".
// Raises CommandFailure (with a reason naming the key or line) when "[Header]", a header key, the
// CR LF after a key or a separator a key needs is missing, or when translateMoves raises.
std::u16string translateRecord(std::u16string_view source);

// Returns the move nodes (";B[qd];W[dp]..."), empty when the source has no "[Data]" marker or no
// move lines. Raises CommandFailure for a move line whose first comma stands at position 1 or 2 or
// beyond 32766, or whose colour character is not an upper-case letter A-Z.
std::u16string translateMoves(std::u16string_view source);

// Returns value with "\" written as "\\" and "]" as "\]", as an SGF property value requires.
std::u16string escapeValue(std::u16string_view value);

} // namespace quillarn
