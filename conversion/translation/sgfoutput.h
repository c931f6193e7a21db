// The encodings of an SGF record file, code page 932 (what the window writes) or UTF-8, and the one
// place that says how a record file starts in each: with the CA property that tells readers so.
#pragma once

#include <string_view>

namespace quillarn {

enum class RecordEncoding {
    Ansi, // code page 932 on every system, with CA[Shift_JIS] or CA[CP932]
    Utf8, // UTF-8, with CA[UTF-8] as the first property of the root node
};

// Returns how a record file in encoding starts, up to the first property of its root node, which
// names its charset: an SGF reader takes a record without CA to be Latin-1 or guesses, and a guess
// can let the second byte of a character (0x5C, "\\") escape the "]" after it. "(;CA[UTF-8]"; for
// code page 932 "(;CA[Shift_JIS]", the name every reader knows, or "(;CA[CP932]" when the record
// holds characters that only code page 932 has (codePage932Only), which a strict Shift_JIS reader
// refuses.
std::string_view recordStart(RecordEncoding encoding, bool codePage932Only);

} // namespace quillarn
