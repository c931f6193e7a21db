// The UTF-8 of utf8codec.h.
#include "utf8codec.h"

#include "asciiscan.h"
#include "commandfailure.h"
#include "text.h"

#include <algorithm>
#include <iterator>

namespace quillarn {

int utf8Length(const unsigned char *const in, const unsigned char *const end, int *shown)
{
    const unsigned lead = in[0];
    if (lead < 0x80)
        return 1;
    const int announced = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0; // a continuation byte, C0, C1, F5-FF
    // The second byte's range is narrower after E0 and F0 (no overlong forms), ED (no surrogates)
    // and F4 (nothing beyond U+10FFFF); every later byte is a continuation byte.
    const unsigned secondLow = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned secondHigh = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    int fitting = 1;
    bool broken = false;
    for (; fitting < announced && in + fitting != end; ++fitting) {
        const unsigned byte = in[fitting];
        if (fitting == 1 ? byte < secondLow || byte > secondHigh : (byte & 0xC0) != 0x80) {
            broken = true;
            break;
        }
    }
    if (shown)
        *shown = broken ? fitting + 1 : fitting;
    return announced != 0 && fitting == announced ? announced : 0;
}

char32_t utf8CodePoint(const unsigned char *in, int length)
{
    switch (length) {
    case 1:
        return in[0];
    case 2:
        return (in[0] & 0x1Fu) << 6 | (in[1] & 0x3Fu);
    case 3:
        return (in[0] & 0x0Fu) << 12 | (in[1] & 0x3Fu) << 6 | (in[2] & 0x3Fu);
    default:
        return (in[0] & 0x07u) << 18 | (in[1] & 0x3Fu) << 12 | (in[2] & 0x3Fu) << 6 | (in[3] & 0x3Fu);
    }
}

namespace {

// Writes the UTF-8 bytes of c (not a surrogate) to out and returns the end of what it wrote.
char *putUtf8(char *out, char32_t c)
{
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | c >> 6);
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | c >> 12);
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | c >> 18);
        *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Decodes UTF-8 bytes from in on into out, ASCII runs eight bytes at a time, until in reaches end
// or a character that does not decode (then sets invalid), or until out has less room than eight
// code units before outEnd. Returns where in stopped and advances out past what it wrote.
const unsigned char *decodeUtf8Run(const unsigned char *in, const unsigned char *const end, char16_t *&out,
                                   const char16_t *const outEnd, bool &invalid)
{
    while (in != end && outEnd - out >= 8) {
        if (in[0] < 0x80) {
            // A run of ASCII, most of a data section, as far as the room in out goes: a byte a unit.
            in = copyAscii(in, in + std::min(end - in, outEnd - out), out);
            continue;
        }
        const int length = utf8Length(in, end);
        if (length == 0)
            break;
        const char32_t c = utf8CodePoint(in, length);
        if (c >= 0x10000) {
            *out++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            *out++ = static_cast<char16_t>(c);
        }
        in += length;
    }
    invalid = in != end && outEnd - out >= 8;
    return in;
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
    int shown = 1;
    utf8Length(bad, end, &shown);
    std::string bytes;
    for (int i = 0; i < shown; ++i)
        bytes += (i == 0 ? "0x" : " 0x") + hexDigits(bad[i], 2);
    throw CommandFailure(Reason(shown == 1 ? Said::ByteNotUtf8 : Said::BytesNotUtf8,
                                {std::to_string(line), std::to_string(bad - lineStart + 1), bytes}));
}

} // namespace

void appendUtf8(std::string &out, char32_t c)
{
    char bytes[4];
    out.append(bytes, static_cast<std::size_t>(putUtf8(bytes, c) - bytes));
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
        if (isHighSurrogate(unit) && at + 1 < text.size() && isLowSurrogate(text[at + 1])) {
            // A low surrogate after a high one is half a character, even in U+DC80-U+DCFF.
            out = putUtf8(out, 0x10000 + ((unit - 0xD800u) << 10) + (text[++at] - 0xDC00u));
        } else if (isUndecodedByte(unit)) {
            throw CommandFailure(Reason(Said::UndecodedNotUtf8, {hexDigits(unit - 0xDC00u, 2)}));
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            throw CommandFailure(Reason(Said::SurrogateNotUtf8, {hexDigits(unit, 4)}));
        } else {
            out = putUtf8(out, unit);
        }
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

std::u16string decodeUtf8(std::string_view bytes)
{
    const auto *const begin = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = begin + bytes.size();
    // The text grows through a small buffer, so that only the memory it takes is touched: the text
    // of Japanese is a third of the size of its bytes.
    std::u16string text;
    text.reserve(bytes.size());
    char16_t buffer[4096];
    const unsigned char *in = begin;
    bool invalid = false;
    while (in != end && !invalid) {
        char16_t *out = buffer;
        in = decodeUtf8Run(in, end, out, buffer + std::size(buffer), invalid);
        text.append(buffer, static_cast<std::size_t>(out - buffer));
    }
    if (in != end)
        failUtf8(begin, in, end);
    return text;
}

Utf8Shape utf8Shape(std::string_view bytes)
{
    Utf8Shape shape;
    shape.valid = scanNotAscii(bytes, [&](const unsigned char *in, const unsigned char *end) {
        shape.ascii = false;
        const int length = utf8Length(in, end);
        shape.longCharacters = shape.longCharacters || length >= 3;
        return length != 0 ? in + length : nullptr;
    });
    return shape;
}

} // namespace quillarn
