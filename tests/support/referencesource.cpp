// The reading and writing of whole records for referencetranslator.h: a source decoded whole, the
// choice of its encoding gated on the decoded text of both readings, and the record text encoded whole.
#include "referencetranslator.h"

#include "codepage.h"
#include "recordfile.h"
#include "utf8codec.h"

#include <algorithm>
#include <utility>

namespace quillarn {

namespace {

bool isAscii(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// Returns true when text, read as UTF-8 keeping the bytes that are not, holds such a byte: a low
// surrogate that does not follow a high one.
bool keepsBytes(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isLowSurrogate(text[i]) && (i == 0 || !isHighSurrogate(text[i - 1])))
            return true;
    }
    return false;
}

} // namespace

std::u16string decodeUtf8KeepingBytes(std::string_view bytes)
{
    // The runs of valid characters decoded as decodeUtf8 decodes them, each byte between them kept.
    const auto *const begin = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = begin + bytes.size();
    std::u16string text;
    const unsigned char *run = begin;
    for (const unsigned char *at = begin;;) {
        const int length = at != end ? utf8Length(at, end) : 0;
        if (length != 0) {
            at += length;
            continue;
        }
        text += decodeUtf8(
            bytes.substr(static_cast<std::size_t>(run - begin), static_cast<std::size_t>(at - run)));
        if (at == end)
            return text;
        text += static_cast<char16_t>(0xDC00 + *at++);
        run = at;
    }
}

SourceText decodeSource(std::string_view bytes, SourceEncoding encoding)
{
    if (encoding == SourceEncoding::Cp932)
        return {decodeAnsi(bytes), SourceEncoding::Cp932};
    if (encoding == SourceEncoding::Utf8 || bytes.substr(0, byteOrderMark.size()) == byteOrderMark)
        return {decodeUtf8(utf8SourceBytes(bytes, encoding)), SourceEncoding::Utf8};
    // Both readings, judged on the parts the translation reads in each.
    std::u16string ansi = decodeAnsi(bytes);
    std::u16string utf8 = decodeUtf8KeepingBytes(bytes);
    const std::vector<std::u16string_view> utf8Parts = translatedParts(utf8);
    const std::vector<std::u16string_view> ansiParts = translatedParts(ansi);
    if (std::any_of(utf8Parts.begin(), utf8Parts.end(), keepsBytes) ||
        (std::all_of(utf8Parts.begin(), utf8Parts.end(), isAscii) &&
         std::all_of(ansiParts.begin(), ansiParts.end(), isAscii)))
        return {std::move(ansi), SourceEncoding::Cp932};
    // Which reading is the more plausible is weighed on the bytes, as the converter weighs it.
    EncodingDoubt doubt = EncodingDoubt::None;
    if (readSource(bytes, SourceEncoding::Auto, doubt).isUtf8())
        return {std::move(utf8), SourceEncoding::Utf8, doubt};
    return {std::move(ansi), SourceEncoding::Cp932, doubt};
}

TranslatedSource translateSourceBytes(std::string_view bytes, SourceEncoding encoding)
{
    SourceText read;
    try {
        read = decodeSource(bytes, encoding);
    } catch (const CommandFailure &) {
        failJudgingTheFile(bytes, true);
    }
    try {
        TranslatedSource translated;
        translated.record = translateRecord(read.text, &translated.moveListWarnings);
        translated.doubt = read.doubt;
        return translated;
    } catch (const CommandFailure &) {
        failJudgingTheFile(bytes, false);
    }
}

std::string recordFileBytes(std::u16string_view recordText, RecordEncoding encoding)
{
    constexpr std::u16string_view rootStart = u"(;";
    if (recordText.substr(0, rootStart.size()) != rootStart)
        throw CommandFailure(encoding == RecordEncoding::Ansi
                                 ? "the record has no root node to carry its charset"
                                 : "the record has no root node to carry CA[UTF-8]");
    const std::u16string_view body = recordText.substr(rootStart.size());
    const std::string encoded = encoding == RecordEncoding::Ansi ? encodeAnsi(body) : encodeUtf8(body);
    std::string bytes(
        recordStart(encoding, encoding == RecordEncoding::Ansi && usesCodePage932Extensions(encoded)));
    bytes += encoded;
    bytes += "\r\n";
    return bytes;
}

std::u16string readSourceFile(const std::filesystem::path &path)
{
    return decodeAnsi(readFileBytes(path));
}

void writeRecordFile(const std::filesystem::path &path, std::u16string_view recordText)
{
    writeFileAtomically(path, recordFileBytes(recordText));
}

} // namespace quillarn
