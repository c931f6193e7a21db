// Reading a source's bytes, and recognising files that are not UGI records, for sourcekind.h.
#include "sourcekind.h"

#include "codepage.h"
#include "text.h"
#include "translation.h"

#include <algorithm>
#include <cstddef>
#include <utility>

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

SourceText decodeSource(std::string_view bytes, SourceEncoding encoding)
{
    constexpr std::string_view mark = "\xEF\xBB\xBF";
    const bool marked = startsWith(bytes, mark);
    if (encoding == SourceEncoding::Cp932)
        return {decodeAnsi(bytes), SourceEncoding::Cp932};
    if (encoding == SourceEncoding::Auto && !marked) {
        bool utf8 = false;
        std::u16string text = decodeUtf8OrAnsi(bytes, utf8);
        return {std::move(text), utf8 ? SourceEncoding::Utf8 : SourceEncoding::Cp932};
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

std::u16string translateSourceBytes(std::string_view bytes, SourceEncoding encoding)
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
        return translateRecord(read.text);
    } catch (const CommandFailure &) {
        const std::string reason = notARecordReason(bytes);
        if (reason.empty())
            throw;
        throw CommandFailure(reason);
    }
}

} // namespace quillarn
