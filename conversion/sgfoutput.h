// The bytes of an SGF record file in the encoding the user chose: code page 932, which the window
// writes, or UTF-8 with the CA property that tells SGF readers so.
#pragma once

#include <string>
#include <string_view>

namespace quillarn {

enum class RecordEncoding {
    Ansi, // code page 932 on every system, with CA[Shift_JIS] or CA[CP932]
    Utf8, // UTF-8, with CA[UTF-8] as the first property of the root node
};

// Returns the bytes of a record file for recordText ("(;" + root properties + ... + ")") in
// encoding, followed by one CR LF, without a byte-order mark. For Ansi these are exactly the bytes
// of recordFileBytes. Raises CommandFailure when the text holds a character the encoding cannot
// hold; for Utf8 that includes every source byte that did not decode, since UTF-8 has no place for
// it. Raises CommandFailure for Utf8 when recordText does not start with a root node.
std::string recordFileBytes(std::u16string_view recordText, RecordEncoding encoding);

} // namespace quillarn
