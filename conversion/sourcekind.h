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

// The warning of a source that Auto read as code page 932 although UTF-8 reads it too.
constexpr std::string_view alsoUtf8Warning =
    "read as code page 932; it is also valid UTF-8 (--source-encoding utf-8 reads it so)";

struct SourceText {
    std::u16string text;                             // without a UTF-8 byte-order mark
    SourceEncoding encoding = SourceEncoding::Cp932; // how the bytes were read: Cp932 or Utf8, never Auto
    bool alsoUtf8 = false; // read as code page 932, though the parts it reads are valid UTF-8 too
};

// Returns the text of a source's bytes read in encoding. Cp932 reads them as decodeAnsi does, a
// byte-order mark included, and never raises. Utf8, or Auto for bytes that start with a UTF-8
// byte-order mark, reads them as decodeUtf8 does: bytes that are not valid UTF-8 are not read in
// another encoding, but raise CommandFailure as decodeUtf8 does, columns counted after the mark, with
// " (the source starts with a UTF-8 byte-order mark)" added when the mark made it UTF-8.
// Otherwise Auto looks at the parts of the source that the translation reads (translatedParts) in
// either reading. It reads code page 932 when those are ASCII in both or are not valid UTF-8; and when
// their code page 932 reading is plain Japanese text (isPlainJapanese) while their UTF-8 reading is
// not (isPlainJapaneseUtf8, with a character of three or four bytes), and then sets alsoUtf8. It reads
// UTF-8 otherwise, keeping a byte outside those parts that is not UTF-8 as decodeUtf8KeepingBytes
// does. Auto never raises.
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

struct TranslatedSource {
    std::u16string record; // the record text, as translateRecord returns it
    bool alsoUtf8 = false; // as decodeSource's
};

// Returns translateRecord(decodeSource(bytes, encoding).text). Raises CommandFailure with
// notARecordReason(bytes, true) when the reading fails, with notARecordReason(bytes) when the
// translation fails, each when that reason is not empty, and with the reading's or the translation's
// own reason otherwise.
TranslatedSource translateSourceBytes(std::string_view bytes, SourceEncoding encoding = SourceEncoding::Auto);

} // namespace quillarn
