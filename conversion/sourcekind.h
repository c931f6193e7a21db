// What a file that fails to translate looks like, when it is not a UGI record at all: UTF-16 text,
// binary data, or text without a "[Header]" section. The command line says so instead of naming the
// first header key the translation missed; a record that translates is never judged on its looks.
#pragma once

#include <string>
#include <string_view>

namespace quillarn {

// How the bytes of a source are read: Auto tells UTF-8 from code page 932 by the bytes themselves.
enum class SourceEncoding { Auto, Cp932, Utf8 };

// Returns a reason that says what bytes look like when they are not a UGI record, or an empty
// string when they could be one (then the translation's own reason is the better one):
// "UTF-16 text, not a UGI record" for a UTF-16 byte-order mark or NUL bytes in every other place,
// "binary data, not a UGI record" for NUL or other control bytes (not TAB, CR, LF or the end-of-file
// byte 0x1A) in the first kilobyte, "not a UGI record: no [Header] section" when "[Header]" appears
// nowhere. Raises nothing.
std::string notARecordReason(std::string_view bytes);

// Returns translateRecord(decodeAnsi(bytes)). Raises CommandFailure with notARecordReason(bytes)
// when the translation fails and that reason is not empty, and with the translation's own reason
// otherwise.
std::u16string translateSourceBytes(std::string_view bytes);

} // namespace quillarn
