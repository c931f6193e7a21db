// Code page conversion: the code page 932 tables of cp932_table.cpp do the work in one pass each
// way, on every system, so that a record gives the same bytes wherever it is converted.
#include "codepage.h"
#include "text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace quillarn {

namespace {

constexpr char16_t undecodedFirst = 0xDC80; // U+DC00 + byte, for bytes 0x80-0xFF
constexpr char16_t undecodedLast = 0xDCFF;

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool isUndecodedByte(char16_t unit)
{
    return unit >= undecodedFirst && unit <= undecodedLast;
}

// Returns false for a character that would break the line of a reason or reorder its text when
// shown: a control character, a line or paragraph separator, a bidirectional formatting character.
bool showsInALine(char32_t c)
{
    return c >= 0xA0 && c != 0x2028 && c != 0x2029 && c != 0x061C && c != 0x200E && c != 0x200F &&
           !(c >= 0x202A && c <= 0x202E) && !(c >= 0x2066 && c <= 0x2069);
}

// Raises for the character at text[at], which code page 932 cannot hold: the whole character when
// it is a surrogate pair, quoted in UTF-8 when it shows in a line, and the option that writes it.
[[noreturn]] void failUnwritable(std::u16string_view text, std::size_t at)
{
    const char16_t unit = text[at];
    const bool pair = isHighSurrogate(unit) && at + 1 < text.size() && isLowSurrogate(text[at + 1]);
    if (!pair && (isHighSurrogate(unit) || isLowSurrogate(unit)))
        throw CommandFailure("unpaired surrogate U+" + hexDigits(unit, 4) +
                             " cannot be written in code page 932");
    const char32_t codePoint = pair ? 0x10000u + ((unit - 0xD800u) << 10) + (text[at + 1] - 0xDC00u) : unit;
    std::string reason = "character U+" + hexDigits(codePoint, 4);
    if (showsInALine(codePoint))
        reason += " \"" + encodeUtf8(text.substr(at, pair ? 2 : 1)) + "\"";
    throw CommandFailure(reason + " cannot be written in code page 932 (--encoding utf-8 writes it)");
}

// Raises for an undecoded byte that the first byte of next would complete into a character: written
// together they would read back as that character, so the byte and next would both be lost.
[[noreturn]] void failJoined(unsigned byte, char16_t next)
{
    const std::string what =
        isUndecodedByte(next) ? describe(next - 0xDC00u, "byte 0x", 2) : describe(next, "U+", 4);
    throw CommandFailure("byte 0x" + hexDigits(byte, 2) +
                         " of the source did not decode and cannot be written before " + what +
                         " (the two would read back as one character)");
}

} // namespace

// The tables of cp932_table.cpp; their shapes are fixed by scripts/gen_cp932_table.py.
namespace cp932 {
extern const std::uint16_t singleByte[256];
extern const std::uint8_t leadRow[256];
extern const std::uint16_t doubleByte[];
extern const std::uint8_t encodeBlockIndex[];
extern const std::uint16_t encodeBlocks[];
} // namespace cp932

namespace {

constexpr unsigned rowFirstTrail = 0x40;
constexpr unsigned rowLength = 0x100 - rowFirstTrail;
constexpr unsigned blockBits = 7;
constexpr unsigned blockMask = (1u << blockBits) - 1;

// Returns the code of unit: one byte, two bytes (lead byte first), or 0 when it has none.
unsigned codeOf(char16_t unit)
{
    if (unit < 0x80)
        return unit;
    return cp932::encodeBlocks[cp932::encodeBlockIndex[unit >> blockBits] << blockBits | (unit & blockMask)];
}

// Returns true when byte followed by next decodes as one double-byte character.
bool joins(unsigned byte, unsigned next)
{
    const unsigned row = cp932::leadRow[byte];
    const unsigned trail = next - rowFirstTrail; // wraps below 0x40
    return row != 0 && trail < rowLength && cp932::doubleByte[(row - 1) * rowLength + trail] != 0;
}

// Returns the first byte encodeAnsi writes for unit; 0 for a character it cannot write.
unsigned firstByteOf(char16_t unit)
{
    const unsigned code = codeOf(unit);
    if (code > 0xFF)
        return code >> 8;
    if (code == 0 && isUndecodedByte(unit))
        return unit - 0xDC00u;
    return code;
}

// Copies the ASCII bytes from in on to out, eight at a time while it can, and stops at the first
// byte that is not ASCII (or at end); returns where it stopped and advances out as far.
const unsigned char *copyAscii(const unsigned char *in, const unsigned char *end, char16_t *&out)
{
    while (end - in >= 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, in, sizeof chunk);
        if ((chunk & 0x8080808080808080u) != 0)
            break;
        for (int i = 0; i < 8; ++i)
            out[i] = in[i];
        in += 8;
        out += 8;
    }
    while (in != end && *in < 0x80)
        *out++ = *in++;
    return in;
}

// Returns the first byte from in on that is not ASCII, or end; eight bytes at a time.
const unsigned char *firstNotAscii(const unsigned char *in, const unsigned char *const end)
{
    while (end - in >= 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, in, sizeof chunk);
        if ((chunk & 0x8080808080808080u) != 0)
            break;
        in += 8;
    }
    while (in != end && *in < 0x80)
        ++in;
    return in;
}

// Decodes the code page 932 bytes from in to end into out, one code unit per byte at most, and
// returns the end of what it wrote.
char16_t *decodeAnsiTo(char16_t *out, const unsigned char *in, const unsigned char *const end)
{
    while (in != end) {
        in = copyAscii(in, end, out); // runs of ASCII, most of a data section
        if (in == end)
            break;
        const unsigned byte = *in++;
        const unsigned row = cp932::leadRow[byte];
        if (row != 0 && in != end) {
            const unsigned trail = static_cast<unsigned>(*in) - rowFirstTrail; // wraps below 0x40
            if (trail < rowLength) {
                const char16_t unit = cp932::doubleByte[(row - 1) * rowLength + trail];
                if (unit != 0) {
                    *out++ = unit;
                    ++in;
                    continue;
                }
            }
        }
        // Not a code: the byte stands alone (U+DC00 + byte for a lead byte) and the next byte is
        // read afresh.
        *out++ = cp932::singleByte[byte];
    }
    return out;
}

bool isContinuation(unsigned byte)
{
    return (byte & 0xC0) == 0x80;
}

// The range of the second byte of a UTF-8 character that starts with lead: narrower than 0x80-0xBF
// after E0 and F0 (no overlong forms), ED (no surrogates) and F4 (nothing beyond U+10FFFF).
unsigned secondLow(unsigned lead)
{
    return lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
}

unsigned secondHigh(unsigned lead)
{
    return lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
}

// Decodes UTF-8 bytes from in on into out, ASCII runs eight bytes at a time, until in reaches end
// or a character that does not decode (then sets invalid), or until out has less room than eight
// code units before outEnd. Returns where in stopped and advances out past what it wrote; sets
// longSeen when it decodes a character of three or four bytes.
const unsigned char *decodeUtf8Run(const unsigned char *in, const unsigned char *const end, char16_t *&out,
                                   const char16_t *const outEnd, bool &longSeen, bool &invalid)
{
    while (in != end && outEnd - out >= 8) {
        const unsigned lead = in[0];
        const std::ptrdiff_t left = end - in;
        if (lead < 0x80) {
            // A run of ASCII, most of a data section, as far as the room in out goes: a byte a unit.
            in = copyAscii(in, in + std::min(end - in, outEnd - out), out);
        } else if (lead >= 0xE0 && lead <= 0xEF) { // kana and kanji first: most of Japanese text
            if (left < 3 || in[1] < secondLow(lead) || in[1] > secondHigh(lead) || !isContinuation(in[2]))
                break;
            *out++ = static_cast<char16_t>((lead & 0x0F) << 12 | (in[1] & 0x3Fu) << 6 | (in[2] & 0x3F));
            in += 3;
            longSeen = true;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            if (left < 2 || !isContinuation(in[1]))
                break;
            *out++ = static_cast<char16_t>((lead & 0x1F) << 6 | (in[1] & 0x3F));
            in += 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            if (left < 4 || in[1] < secondLow(lead) || in[1] > secondHigh(lead) || !isContinuation(in[2]) ||
                !isContinuation(in[3]))
                break;
            const char32_t beyond =
                ((lead & 0x07u) << 18 | (in[1] & 0x3Fu) << 12 | (in[2] & 0x3Fu) << 6 | (in[3] & 0x3Fu)) -
                0x10000u;
            *out++ = static_cast<char16_t>(0xD800 + (beyond >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (beyond & 0x3FF));
            in += 4;
            longSeen = true;
        } else {
            break; // a continuation byte, or a byte that starts no character (C0, C1, F5-FF)
        }
    }
    invalid = in != end && outEnd - out >= 8;
    return in;
}

// Returns the text of the UTF-8 bytes from begin to end, up to the first character that does not
// decode; stop is where that character starts, or end. The text grows through a small buffer, so
// that only the memory it takes is touched: the text of Japanese is a third of the size of its bytes.
std::u16string decodeUtf8Prefix(const unsigned char *const begin, const unsigned char *const end,
                                const unsigned char *&stop, bool &longSeen)
{
    std::u16string text;
    text.reserve(static_cast<std::size_t>(end - begin));
    char16_t buffer[4096];
    const unsigned char *in = begin;
    bool invalid = false;
    while (in != end && !invalid) {
        char16_t *out = buffer;
        in = decodeUtf8Run(in, end, out, buffer + std::size(buffer), longSeen, invalid);
        text.append(buffer, static_cast<std::size_t>(out - buffer));
    }
    stop = in;
    return text;
}

// Raises for the character that starts at bad, the first that is not UTF-8, in [begin, end).
[[noreturn]] void failUtf8(const unsigned char *begin, const unsigned char *bad, const unsigned char *end)
{
    std::size_t line = 1;
    const unsigned char *lineStart = begin;
    for (const unsigned char *at = begin; at != bad; ++at) {
        if (*at == '\n') {
            ++line;
            lineStart = at + 1;
        }
    }
    // The bytes that the first one announces, up to the first that does not belong.
    const unsigned lead = *bad;
    const std::ptrdiff_t announced = lead >= 0xC2 && lead <= 0xDF   ? 2
                                     : lead >= 0xE0 && lead <= 0xEF ? 3
                                     : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                    : 1;
    std::ptrdiff_t shown = 1;
    while (shown < announced && bad + shown != end) {
        const unsigned byte = bad[shown++];
        const bool fits =
            shown == 2 ? byte >= secondLow(lead) && byte <= secondHigh(lead) : isContinuation(byte);
        if (!fits)
            break;
    }
    std::string reason = "line " + std::to_string(line) + ", column " + std::to_string(bad - lineStart + 1) +
                         (shown == 1 ? ": byte" : ": bytes");
    for (std::ptrdiff_t i = 0; i < shown; ++i)
        reason += " 0x" + hexDigits(bad[i], 2);
    throw CommandFailure(reason + (shown == 1 ? " is" : " are") + " not valid UTF-8");
}

} // namespace

std::u16string decodeAnsi(std::string_view bytes)
{
    // Never more code units than bytes: size once, write through a pointer, trim at the end.
    std::u16string text(bytes.size(), u'\0');
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    char16_t *const end = decodeAnsiTo(text.data(), in, in + bytes.size());
    text.resize(static_cast<std::size_t>(end - text.data()));
    return text;
}

void appendAnsi(std::string &out, std::u16string_view text)
{
    std::size_t size = text.size();
    for (const char16_t unit : text)
        size += unit >= 0x80 ? 1 : 0;
    const std::size_t start = out.size();
    out.resize(start + size);
    char *const first = out.data() + start;
    char *at = first;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit < 0x80) {
            *at++ = static_cast<char>(unit);
            continue;
        }
        const unsigned code = codeOf(unit);
        if (code > 0xFF) {
            *at++ = static_cast<char>(code >> 8);
            *at++ = static_cast<char>(code & 0xFF);
        } else if (code != 0) {
            *at++ = static_cast<char>(code);
        } else if (isUndecodedByte(unit)) {
            // A lone lead byte stays one only while the byte after it cannot be its trail byte. That
            // holds in the source, but not before a "]" the record adds or a duplicate character
            // written with its other code.
            const unsigned byte = unit - 0xDC00u;
            if (i + 1 < text.size() && joins(byte, firstByteOf(text[i + 1])))
                failJoined(byte, text[i + 1]);
            *at++ = static_cast<char>(byte);
        } else {
            failUnwritable(text, i);
        }
    }
    out.resize(start + static_cast<std::size_t>(at - first));
}

std::string encodeAnsi(std::u16string_view text)
{
    std::string bytes;
    appendAnsi(bytes, text);
    return bytes;
}

bool isDoubleByteCharacter(unsigned char lead, unsigned char trail)
{
    return joins(lead, trail);
}

bool usesCodePage932Extensions(std::string_view bytes)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = in + bytes.size();
    while (in != end) {
        in = firstNotAscii(in, end); // ASCII runs, most of a record, eight bytes at a time
        if (in == end)
            break;
        const unsigned byte = *in++;
        if (in == end || !joins(byte, *in)) {
            // A byte of its own: 0x80, 0xA0 and 0xFD-0xFF are single characters only code page 932
            // has; a lone lead byte is no character at all.
            if (byte == 0x80 || byte == 0xA0 || byte >= 0xFD)
                return true;
            continue;
        }
        // A character of two bytes, read as a reader pairs them. Row 13 (lead byte 0x87), the NEC
        // and IBM extensions (0xED, 0xEE, 0xFA-0xFC) and the user-defined area (0xF0-0xF9) are
        // code page 932's own.
        if (byte == 0x87 || byte == 0xED || byte == 0xEE || byte >= 0xF0)
            return true;
        ++in;
    }
    return false;
}

bool isPlainJapanese(std::string_view bytes)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = in + bytes.size();
    bool afterWide = false; // the character before is one of two bytes
    bool afterKana = false; // the character before is a half-width katakana
    while (in != end) {
        const unsigned char *const run = firstNotAscii(in, end);
        if (run != in) {
            in = run;
            afterWide = afterKana = false;
            if (in == end)
                break;
        }
        const unsigned byte = *in++;
        if (in != end && joins(byte, *in)) {
            if ((byte >= 0xF0 && byte <= 0xF9) || afterKana) // user-defined, or next to katakana
                return false;
            ++in;
            afterWide = true;
            afterKana = false;
        } else if (byte >= 0xA1 && byte <= 0xDF) { // half-width katakana
            if (afterWide)
                return false;
            afterKana = true;
            afterWide = false;
        } else {
            return false; // 0x80, 0xA0, 0xFD-0xFF, or a lead byte that does not decode
        }
    }
    return true;
}

bool isPlainJapaneseUtf8(std::string_view bytes)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = in + bytes.size();
    bool afterWide = false; // the character before is outside ASCII
    while (in != end) {
        const unsigned lead = *in;
        if (lead < 0x80) {
            if (afterWide && lead >= 0x40 && lead <= 0x7E)
                return false;
            afterWide = false;
            in = firstNotAscii(in + 1, end);
            continue;
        }
        // Valid UTF-8: two bytes or three make one code unit; four make a pair, which has no code.
        if (lead >= 0xF0)
            return false;
        const bool three = lead >= 0xE0;
        const char16_t unit =
            static_cast<char16_t>(three ? (lead & 0x0F) << 12 | (in[1] & 0x3Fu) << 6 | (in[2] & 0x3Fu)
                                        : (lead & 0x1F) << 6 | (in[1] & 0x3Fu));
        if (codeOf(unit) == 0)
            return false;
        in += three ? 3 : 2;
        afterWide = true;
    }
    return true;
}

std::string encodeUtf8(std::u16string_view text)
{
    // Three bytes per code unit at most (a pair takes four for its two).
    std::size_t size = 0;
    for (const char16_t unit : text)
        size += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
    std::string bytes(size, '\0');
    char *out = bytes.data();
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char16_t unit = text[at];
        if (unit < 0x80) {
            *out++ = static_cast<char>(unit);
        } else if (unit < 0x800) {
            *out++ = static_cast<char>(0xC0 | unit >> 6);
            *out++ = static_cast<char>(0x80 | (unit & 0x3F));
        } else if (isHighSurrogate(unit) && at + 1 < text.size() && isLowSurrogate(text[at + 1])) {
            // A low surrogate after a high one is half a character, even in U+DC80-U+DCFF.
            const char32_t codePoint = 0x10000 + ((unit - 0xD800u) << 10) + (text[++at] - 0xDC00u);
            *out++ = static_cast<char>(0xF0 | codePoint >> 18);
            *out++ = static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
            *out++ = static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
            *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
        } else if (isUndecodedByte(unit)) {
            throw CommandFailure("byte 0x" + hexDigits(unit - 0xDC00u, 2) +
                                 " of the source did not decode and cannot be written as UTF-8");
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            throw CommandFailure("unpaired surrogate U+" + hexDigits(unit, 4) +
                                 " cannot be written as UTF-8");
        } else {
            *out++ = static_cast<char>(0xE0 | unit >> 12);
            *out++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
            *out++ = static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

std::u16string decodeUtf8(std::string_view bytes)
{
    const auto *const begin = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = begin + bytes.size();
    const unsigned char *stop = nullptr;
    bool longSeen = false;
    std::u16string text = decodeUtf8Prefix(begin, end, stop, longSeen);
    if (stop != end)
        failUtf8(begin, stop, end);
    return text;
}

Utf8Shape utf8Shape(std::string_view bytes)
{
    Utf8Shape shape;
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = in + bytes.size();
    while (in != end) {
        in = firstNotAscii(in, end); // ASCII runs, most of a record, eight bytes at a time
        if (in == end)
            break;
        shape.ascii = false;
        const unsigned lead = *in;
        const std::ptrdiff_t left = end - in;
        std::ptrdiff_t length = 1;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4;
        else if (lead >= 0x80) {
            shape.valid = false;
            return shape;
        }
        if (length > 1) {
            bool fits = left >= length && in[1] >= secondLow(lead) && in[1] <= secondHigh(lead);
            for (std::ptrdiff_t i = 2; fits && i < length; ++i)
                fits = isContinuation(in[i]);
            if (!fits) {
                shape.valid = false;
                return shape;
            }
            shape.longCharacters = shape.longCharacters || length >= 3;
        }
        in += length;
    }
    return shape;
}

std::u16string decodeUtf8KeepingBytes(std::string_view bytes)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = in + bytes.size();
    // Never more code units than bytes read, so with eight to spare decodeUtf8Run always has room
    // and stops only at the end or at a byte that starts no valid character.
    std::u16string text(bytes.size() + 8, u'\0');
    char16_t *out = text.data();
    bool longSeen = false;
    bool invalid = false;
    for (;;) {
        in = decodeUtf8Run(in, end, out, text.data() + text.size(), longSeen, invalid);
        if (in == end)
            break;
        *out++ = static_cast<char16_t>(0xDC00 + *in++);
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

} // namespace quillarn
