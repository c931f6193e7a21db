// Code page conversion: the code page 932 tables of cp932_table.cpp do the work in one pass each
// way, on every system, so that a record gives the same bytes wherever it is converted.
#include "codepage.h"
#include "text.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

std::string hex(unsigned long value, int digits)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*lX", digits, value);
    return buffer;
}

// Raises for the character at text[at], naming the whole character when it is a surrogate pair.
[[noreturn]] void failUnwritable(std::u16string_view text, std::size_t at, const std::string &target)
{
    const char16_t unit = text[at];
    if (isHighSurrogate(unit) && at + 1 < text.size() && isLowSurrogate(text[at + 1])) {
        const unsigned long codePoint = 0x10000ul + ((unit - 0xD800ul) << 10) + (text[at + 1] - 0xDC00ul);
        throw CommandFailure("character U+" + hex(codePoint, 4) + " cannot be written " + target);
    }
    if (isHighSurrogate(unit) || isLowSurrogate(unit))
        throw CommandFailure("unpaired surrogate U+" + hex(unit, 4) + " cannot be written " + target);
    throw CommandFailure("character U+" + hex(unit, 4) + " cannot be written " + target);
}

// Raises for an undecoded byte that the first byte of next would complete into a character: written
// together they would read back as that character, so the byte and next would both be lost.
[[noreturn]] void failJoined(unsigned byte, char16_t next)
{
    std::string what;
    if (next >= 0x20 && next < 0x7F)
        what = std::string("\"") + static_cast<char>(next) + "\"";
    else if (isUndecodedByte(next))
        what = "byte 0x" + hex(next - 0xDC00u, 2);
    else
        what = "U+" + hex(next, 4);
    throw CommandFailure("byte 0x" + hex(byte, 2) +
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

} // namespace

std::u16string decodeAnsi(std::string_view bytes)
{
    // Never more code units than bytes: size once, write through a pointer, trim at the end.
    std::u16string text(bytes.size(), u'\0');
    char16_t *out = text.data();
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = in + bytes.size();
    while (in != end) {
        // Runs of ASCII, most of a data section, eight bytes at a time.
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
        if (in == end)
            break;
        const unsigned byte = *in++;
        if (byte < 0x80) {
            *out++ = static_cast<char16_t>(byte);
            continue;
        }
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
    text.resize(static_cast<std::size_t>(out - text.data()));
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
            failUnwritable(text, i, "in code page 932");
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

bool usesCodePage932Extensions(std::string_view bytes)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = in + bytes.size();
    while (in != end) {
        while (end - in >= 8) { // ASCII runs, most of a record, eight bytes at a time
            std::uint64_t chunk;
            std::memcpy(&chunk, in, sizeof chunk);
            if ((chunk & 0x8080808080808080u) != 0)
                break;
            in += 8;
        }
        if (in == end)
            break;
        const unsigned byte = *in++;
        if (byte < 0x80 || in == end || !joins(byte, *in))
            continue;
        // A character of two bytes, read as a reader pairs them. Row 13 (lead byte 0x87), the NEC
        // and IBM extensions (0xED, 0xEE, 0xFA-0xFC) and the user-defined area (0xF0-0xF9) are
        // code page 932's own.
        if (byte == 0x87 || byte == 0xED || byte == 0xEE || byte >= 0xF0)
            return true;
        ++in;
    }
    return false;
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
            throw CommandFailure("byte 0x" + hex(unit - 0xDC00u, 2) +
                                 " of the source did not decode and cannot be written as UTF-8");
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            failUnwritable(text, at, "as UTF-8");
        } else {
            *out++ = static_cast<char>(0xE0 | unit >> 12);
            *out++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
            *out++ = static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

} // namespace quillarn
