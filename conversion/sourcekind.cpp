// Reading a source's bytes, and recognising files that are not UGI records, for sourcekind.h.
#include "sourcekind.h"

#include "codepage.h"
#include "text.h"
#include "translation.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace quillarn {

namespace {

// The part of a file looked at for its kind: enough to tell text from other data.
constexpr std::size_t sampleSize = 1024;

bool startsWith(std::string_view bytes, std::string_view prefix)
{
    return bytes.substr(0, prefix.size()) == prefix;
}

// UTF-16 text of mostly ASCII characters has a NUL byte in every other place (at odd positions
// little-endian, at even ones big-endian); binary data has its NUL bytes on both sides alike.
bool looksLikeUtf16(std::string_view sample)
{
    if (startsWith(sample, "\xFF\xFE") || startsWith(sample, "\xFE\xFF"))
        return true;
    std::size_t nulAt[2] = {0, 0};
    for (std::size_t i = 0; i < sample.size(); ++i) {
        if (sample[i] == '\0')
            ++nulAt[i % 2];
    }
    const std::size_t units = sample.size() / 2;
    const std::size_t more = std::max(nulAt[0], nulAt[1]);
    const std::size_t fewer = std::min(nulAt[0], nulAt[1]);
    return units >= 4 && more * 4 >= units && fewer * 8 <= more;
}

// UTF-32 text of characters below U+10000 has NUL bytes in the two high places of every unit (the
// last two little-endian, the first two big-endian); text of ASCII characters in three of the four.
bool looksLikeUtf32(std::string_view sample)
{
    using namespace std::string_view_literals;
    if (startsWith(sample, "\xFF\xFE\0\0"sv) || startsWith(sample, "\0\0\xFE\xFF"sv))
        return true;
    const std::size_t units = sample.size() / 4;
    std::size_t little = 0;
    std::size_t big = 0;
    for (std::size_t i = 0; i < units; ++i) {
        const std::string_view unit = sample.substr(i * 4, 4);
        little += unit[2] == '\0' && unit[3] == '\0' && unit[0] != '\0' ? 1 : 0;
        big += unit[0] == '\0' && unit[1] == '\0' && unit[3] != '\0' ? 1 : 0;
    }
    return units >= 4 && std::max(little, big) * 8 >= units * 7;
}

bool isControlByte(unsigned char byte)
{
    // TAB, LF and CR belong to text; 0x1A ends many files written on MS-DOS.
    return (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != 0x1A) || byte == 0x7F;
}

} // namespace

std::string notARecordReason(std::string_view bytes, bool utf8Failed)
{
    const std::string_view sample = bytes.substr(0, sampleSize);
    if (looksLikeUtf32(sample))
        return "UTF-32 text, not a UGI record";
    if (looksLikeUtf16(sample))
        return "UTF-16 text, not a UGI record";
    // A text that fails as UTF-8 at one byte is told where that byte is, even with a stray control
    // character in it; binary data is told by its NUL bytes.
    if (std::any_of(sample.begin(), sample.end(), [utf8Failed](char c) {
            return utf8Failed ? c == '\0' : isControlByte(static_cast<unsigned char>(c));
        }))
        return "binary data, not a UGI record";
    if (bytes.find("[Header]") == std::string_view::npos)
        return "not a UGI record: no [Header] section";
    return {};
}

namespace {

// Returns true when text, read as code page 932, is plain Japanese text: isPlainJapanese of its
// bytes, told from the characters (a half-width katakana is U+FF61-U+FF9F, a byte that did not decode
// U+DC80-U+DCFF, the private-use characters U+E000-U+F8FF, and every other character outside ASCII
// but U+0080 is one of two bytes).
bool isPlainJapaneseText(std::u16string_view text)
{
    bool afterWide = false;
    bool afterKana = false;
    for (const char16_t c : text) {
        const bool kana = c >= 0xFF61 && c <= 0xFF9F;
        const bool wide = c >= 0x80 && !kana;
        if (c == 0x80 || (c >= 0xDC80 && c <= 0xDCFF) || (c >= 0xE000 && c <= 0xF8FF) ||
            (kana && afterWide) || (wide && afterKana))
            return false;
        afterWide = wide;
        afterKana = kana;
    }
    return true;
}

// Returns true when text, read as UTF-8, is isPlainJapaneseUtf8 of its bytes, told from the
// characters; sets longSeen when one of them took three bytes or four.
bool isPlainJapaneseUtf8Text(std::u16string_view text, bool &longSeen)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        longSeen = longSeen || c >= 0x800;
        if (c >= 0x40 && c <= 0x7E && i > 0 && text[i - 1] >= 0x80)
            return false;
        try {
            encodeAnsi(text.substr(i, 1)); // a surrogate, half a character of four bytes, raises
        } catch (const CommandFailure &) {
            return false;
        }
    }
    return true;
}

bool isAscii(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// Returns true when text, read as UTF-8 keeping the bytes that are not, holds such a byte: a low
// surrogate that does not follow a high one.
bool keepsBytes(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xDC00 && text[i] <= 0xDFFF &&
            (i == 0 || text[i - 1] < 0xD800 || text[i - 1] > 0xDBFF))
            return true;
    }
    return false;
}

} // namespace

SourceText decodeSource(std::string_view bytes, SourceEncoding encoding)
{
    constexpr std::string_view mark = "\xEF\xBB\xBF";
    const bool marked = startsWith(bytes, mark);
    if (encoding == SourceEncoding::Cp932)
        return {decodeAnsi(bytes), SourceEncoding::Cp932};
    if (encoding == SourceEncoding::Auto && !marked) {
        // Both readings, judged on the parts the translation reads in each.
        std::u16string ansi = decodeAnsi(bytes);
        std::u16string utf8 = decodeUtf8KeepingBytes(bytes);
        const std::vector<std::u16string_view> utf8Parts = translatedParts(utf8);
        const std::vector<std::u16string_view> ansiParts = translatedParts(ansi);
        if (std::any_of(utf8Parts.begin(), utf8Parts.end(), keepsBytes) ||
            (std::all_of(utf8Parts.begin(), utf8Parts.end(), isAscii) &&
             std::all_of(ansiParts.begin(), ansiParts.end(), isAscii)))
            return {std::move(ansi), SourceEncoding::Cp932};
        bool longSeen = false;
        const bool plainUtf8 = std::all_of(utf8Parts.begin(), utf8Parts.end(), [&](std::u16string_view part) {
            return isPlainJapaneseUtf8Text(part, longSeen);
        });
        if (std::all_of(ansiParts.begin(), ansiParts.end(), isPlainJapaneseText) && !(plainUtf8 && longSeen))
            return {std::move(ansi), SourceEncoding::Cp932, true};
        return {std::move(utf8), SourceEncoding::Utf8};
    }
    try {
        return {decodeUtf8(marked ? bytes.substr(mark.size()) : bytes), SourceEncoding::Utf8};
    } catch (const CommandFailure &failure) {
        // Bytes that are not UTF-8 after the mark are not read as code page 932 either: the
        // record would come out as other characters than the file says.
        if (encoding == SourceEncoding::Utf8)
            throw;
        throw CommandFailure(std::string(failure.reason()) +
                             " (the source starts with a UTF-8 byte-order mark)");
    }
}

TranslatedSource translateSourceBytes(std::string_view bytes, SourceEncoding encoding)
{
    SourceText read;
    try {
        read = decodeSource(bytes, encoding);
    } catch (const CommandFailure &) {
        const std::string reason = notARecordReason(bytes, true);
        if (reason.empty())
            throw;
        throw CommandFailure(reason);
    }
    try {
        return {translateRecord(read.text), read.alsoUtf8};
    } catch (const CommandFailure &) {
        const std::string reason = notARecordReason(bytes);
        if (reason.empty())
            throw;
        throw CommandFailure(reason);
    }
}

} // namespace quillarn
