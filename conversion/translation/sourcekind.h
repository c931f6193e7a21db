// How the bytes of a source are read, code page 932 or UTF-8, told apart on the parts of it that the
// conversion reads, found in the bytes themselves; and what a file that fails to convert looks like
// when it is not a UGI record at all (UTF-16 or UTF-32 text, binary data, text without a "[Header]"
// section), which is said instead of the first header key the translation missed. A record that
// converts is never judged on its looks. docs/ugi-format.md gives the rule of the encoding.
#pragma once

#include "commandfailure.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillarn {

// How the bytes of a source are read: Auto tells UTF-8 from code page 932 by the bytes themselves.
enum class SourceEncoding { Auto, Cp932, Utf8 };

// The UTF-8 byte-order mark: it makes a source UTF-8 for Auto, and is not part of the text of a
// source read as UTF-8.
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// Whether Auto's choice of a source's encoding is in doubt: the other reading is nearly as
// plausible as the one chosen.
enum class EncodingDoubt { None, AlsoUtf8, AlsoCp932 };

// How much more plausible (readingScores) one reading must be than the other for Auto to choose it
// without a warning.
constexpr long long clearMargin = 50;

// Returns the warning of a source whose reading is in doubt, with what it read of the record's root
// node (";GN[...]...", escaped as written): the first value that is not ASCII, in brackets after its
// property, with " …" when another follows: "read as code page 932 (GN 莉子 …); it is also valid
// UTF-8" (ReasonKind::AlsoValidUtf8), "read as UTF-8 (PC 小坂A); it is also valid code page 932"
// (ReasonKind::AlsoValidCp932).
Warning encodingDoubtWarning(EncodingDoubt doubt, std::u16string_view rootNode);

// Returns bytes as they are read: as they stand when their line ends are CR LF as the format has
// them (or when they hold neither CR nor LF, or both kinds of byte); made CR LF in room when they
// are those of another system throughout, LF alone (Linux, macOS) or CR alone (older Macs), with
// warning set to say so. A CR or LF byte is never part of a character in code page 932 or UTF-8, so
// every one is a line end. Raises CommandFailure when the bytes would grow too large to be read.
std::string_view withCrLfLineEnds(std::string_view bytes, std::string &room, std::optional<Warning> &warning);

// The bytes of a source, without a UTF-8 byte-order mark, and how they decode.
class SourceBytes {
public:
    SourceBytes() = default;
    SourceBytes(std::string_view bytes, bool utf8) : bytes_(bytes), utf8_(utf8) {}

    std::string_view bytes() const { return bytes_; }
    bool isUtf8() const { return utf8_; }

    // Returns the text of span, a part of bytes() that starts and ends at character boundaries.
    // Raises CommandFailure as decodeUtf8 does when the bytes are read as UTF-8 and span is not.
    std::u16string decode(std::string_view span) const;

    // Returns the offset of the first occurrence of needle (ASCII) at or after from (where a
    // character starts) that starts a character, not the second byte of one; npos when there is none.
    std::size_t find(std::string_view needle, std::size_t from) const;

private:
    bool startsCharacter(std::size_t at, std::size_t &known) const;

    std::string_view bytes_;
    bool utf8_ = false;
};

// Returns the bytes of a source as encoding reads them. Cp932 reads them all as code page 932, a
// byte-order mark included. Utf8, and Auto for bytes that start with the mark, read them as
// utf8SourceBytes does. Otherwise Auto reads code page 932 when the parts of the source that the
// translation reads (the lines of the header keys, the data section) are ASCII in both readings or
// are not valid UTF-8. When they are valid UTF-8 it weighs the whole file in both readings
// (readingScores) and reads the more plausible one, code page 932 on a tie. It sets doubt, to say
// that the other reading was possible, when the other is within clearMargin of it, or when the parts
// the translation reads would, weighed alone, choose the other.
SourceBytes readSource(std::string_view bytes, SourceEncoding encoding, EncodingDoubt &doubt);

// Returns the bytes of a source read as UTF-8 (Utf8, or Auto for bytes that start with the
// byte-order mark), without the mark. Raises CommandFailure as decodeUtf8 does when they are not
// valid UTF-8, columns counted after the mark, with " (the source starts with a UTF-8 byte-order
// mark)" added when the mark made it UTF-8: such bytes are never read in code page 932 instead,
// which would give other characters than the file holds.
std::string_view utf8SourceBytes(std::string_view bytes, SourceEncoding encoding);

// Returns a reason that says what bytes look like when they are not a UGI record, or an empty
// string when they could be one (then the translation's own reason is the better one):
// "UTF-32 text, not a UGI record" for a UTF-32 byte-order mark or NUL bytes in the two high places
// of nearly every four, "UTF-16 text, not a UGI record" for a UTF-16 byte-order mark or NUL bytes in
// every other place, "binary data, not a UGI record" for NUL or other control bytes (not TAB, CR, LF
// or the end-of-file byte 0x1A) in the first kilobyte, "not a UGI record: it looks like an SGF record
// already (it starts with "(;")" for bytes that start so after blanks, "not a UGI record: no [Header]
// section" when "[Header]" appears nowhere. When the reading as UTF-8 failed (utf8Failed), whose reason names
// the byte and its place, only a NUL byte makes the bytes binary data: a text with a stray control character
// keeps that exact reason. Raises nothing.
Reason notARecordReason(std::string_view bytes, bool utf8Failed = false);

// Raises the CommandFailure being handled again, or, when the source bytes are not a UGI record at
// all, one with notARecordReason(bytes, readingFailed) instead. For the handlers of a failed reading
// (readingFailed) and of a failed translation. Call it only in a handler of CommandFailure.
[[noreturn]] void failJudgingTheFile(std::string_view bytes, bool readingFailed);

} // namespace quillarn
