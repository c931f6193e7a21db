// The reference the tests and fuzz targets hold the converter to: the whole record translated as
// text, written in the text operations of text.h, slowly and plainly. The source is decoded whole
// (decodeSource), translated line by line with the converter's own translation of each line
// (translateRoot, appendMoveNode), and the record text encoded whole (recordFileBytes). The converter
// (convert.h) reads the bytes instead; NothingLost.TheConversionOfBytesAgreesWithTheTranslationOfText
// and the translate fuzz target require the same bytes, warnings and reasons of both.
#pragma once

#include "commandfailure.h"
#include "sgfoutput.h"
#include "sourcekind.h"
#include "translation.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

// Returns the record text "(" + root node + move nodes + ")".
// Raises CommandFailure (with a reason naming the key or line) when "[Header]", a header key, the
// CR LF after a key or a separator a key needs is missing, or when translateMoves raises.
// With moveListWarnings, sets them to what MoveListCheck finds in the data section.
std::u16string translateRecord(std::u16string_view source, std::vector<Reason> *moveListWarnings = nullptr);

// Returns the move nodes (";B[qd];W[dp]..."), empty when the source has no "[Data]" marker or no
// move lines; a pass is written as emptyPass says (appendMoveNode). Raises CommandFailure as
// appendMoveNode does for a move line, and for a data line that ends in a lone LF or CR.
std::u16string translateMoves(std::u16string_view source, bool emptyPass = false);

// Returns the parts of source that the translation reads, as views of it: the line of each header
// key found after "[Header]" (from the key to just before the CR LF after it, or to the end), then
// the data section (from just after the first "[Data]" to just before the CR LF of the line that
// opens the next section, or to the end). Raises nothing.
std::vector<std::u16string_view> translatedParts(std::u16string_view source);

struct SourceText {
    std::u16string text;                             // without a UTF-8 byte-order mark
    SourceEncoding encoding = SourceEncoding::Cp932; // how the bytes were read: Cp932 or Utf8, never Auto
    EncodingDoubt doubt = EncodingDoubt::None;       // the other reading was nearly as plausible
};

// Returns the text of a source's bytes read in encoding, judged on the text of both readings. Cp932
// reads them as decodeAnsi does, a byte-order mark included, and never raises. Utf8, or Auto for bytes
// that start with a UTF-8 byte-order mark, reads them as decodeUtf8 does after utf8SourceBytes, and
// raises as that does. Otherwise Auto looks at the parts of the source that the translation reads
// (translatedParts) in either reading, as readSource does, and keeps a byte outside those parts that
// is not UTF-8 as decodeUtf8KeepingBytes does. Auto never raises.
SourceText decodeSource(std::string_view bytes, SourceEncoding encoding = SourceEncoding::Auto);

// Returns the text of UTF-8 bytes as decodeUtf8 does, but never raises: each byte that is not part
// of a valid character becomes U+DC00 + byte, as decodeAnsi keeps the bytes it cannot decode, and
// an ASCII byte is always a character of its own.
std::u16string decodeUtf8KeepingBytes(std::string_view bytes);

struct TranslatedSource {
    std::u16string record;                     // the record text, as translateRecord returns it
    EncodingDoubt doubt = EncodingDoubt::None; // as decodeSource's
    std::vector<Reason> moveListWarnings;      // as translateRecord's
};

// Returns translateRecord(decodeSource(bytes, encoding).text). Raises CommandFailure as the converter
// does: with notARecordReason where it says more than the reading's or the translation's own reason.
TranslatedSource translateSourceBytes(std::string_view bytes, SourceEncoding encoding = SourceEncoding::Auto);

// Returns the bytes of a record file for recordText ("(;" + root properties + ... + ")") in encoding:
// the record start (recordStart; CA[CP932] in code page 932 when the record holds characters only it
// has), the text after "(;" encoded, one CR LF; no byte-order mark. Raises CommandFailure when the text
// holds a character the encoding cannot hold (for Utf8 every byte that did not decode), and when it
// does not start with a root node.
std::string recordFileBytes(std::u16string_view recordText, RecordEncoding encoding = RecordEncoding::Ansi);

// Returns the decoded text of the file at path (readFileBytes, then decodeAnsi).
std::u16string readSourceFile(const std::filesystem::path &path);

// Writes recordFileBytes(recordText) to path through writeFileAtomically.
void writeRecordFile(const std::filesystem::path &path, std::u16string_view recordText);

} // namespace quillarn
