// How the bytes of a source become text (code page 932 or UTF-8, told apart by the bytes), and what a
// file that fails to translate looks like when it is not a UGI record at all: UTF-16 or UTF-32 text,
// binary data, or text without a "[Header]" section. The command line says so instead of naming the
// first header key the translation missed; a record that translates is never judged on its looks.
#pragma once

#include <string>
#include <string_view>

namespace quillarn {

// How the bytes of a source are read: Auto tells UTF-8 from code page 932 by the bytes themselves.
enum class SourceEncoding { Auto, Cp932, Utf8 };

struct SourceText {
    std::u16string text;                             // without a UTF-8 byte-order mark
    SourceEncoding encoding = SourceEncoding::Cp932; // how the bytes were read: Cp932 or Utf8, never Auto
};

// Returns the text of a source's bytes read in encoding. Auto reads UTF-8 when the bytes start with
// a UTF-8 byte-order mark, or when they are valid UTF-8 and hold a character of three or four bytes
// (decodeUtf8OrAnsi), and code page 932 otherwise. Cp932 reads them as decodeAnsi does, a
// byte-order mark included, and never raises. A source forced to UTF-8, or marked as UTF-8, that
// holds bytes that are not valid UTF-8 is not read in another encoding: raises CommandFailure as
// decodeUtf8 does, columns counted after the mark, with " (the source starts with a UTF-8 byte-order
// mark)" added when the mark made it UTF-8.
SourceText decodeSource(std::string_view bytes, SourceEncoding encoding = SourceEncoding::Auto);

// Returns a reason that says what bytes look like when they are not a UGI record, or an empty
// string when they could be one (then the translation's own reason is the better one):
// "UTF-32 text, not a UGI record" for a UTF-32 byte-order mark or NUL bytes in the two high places
// of nearly every four, "UTF-16 text, not a UGI record" for a UTF-16 byte-order mark or NUL bytes in
// every other place, "binary data, not a UGI record" for NUL or other control bytes (not TAB, CR, LF
// or the end-of-file byte 0x1A) in the first kilobyte, "not a UGI record: no [Header] section" when
// "[Header]" appears nowhere. When the reading as UTF-8 failed (utf8Failed), whose reason names the
// byte and its place, only a NUL byte makes the bytes binary data: a text with a stray control
// character keeps that exact reason. Raises nothing.
std::string notARecordReason(std::string_view bytes, bool utf8Failed = false);

// Returns translateRecord(decodeSource(bytes, encoding).text). Raises CommandFailure with
// notARecordReason(bytes, true) when the reading fails, with notARecordReason(bytes) when the
// translation fails, each when that reason is not empty, and with the reading's or the translation's
// own reason otherwise.
std::u16string translateSourceBytes(std::string_view bytes, SourceEncoding encoding = SourceEncoding::Auto);

} // namespace quillarn
