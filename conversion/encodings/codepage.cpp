// Code page conversion: the code page 932 tables of cp932_table.cpp do the work in one pass each
// way, on every system, so that a record gives the same bytes wherever it is converted.
#include "codepage.h"

#include "asciiscan.h"
#include "commandfailure.h"
#include "text.h"
#include "utf8codec.h"

#include <cstddef>
#include <cstdint>

namespace quillarn {

namespace {

// Returns false for a character that would break the line of a reason or reorder its text when
// shown: a control character, a line or paragraph separator, a bidirectional formatting character.
bool showsInALine(char32_t c)
{
    return c >= 0xA0 && c != 0x2028 && c != 0x2029 && c != 0x061C && c != 0x200E && c != 0x200F &&
           !(c >= 0x202A && c <= 0x202E) && !(c >= 0x2066 && c <= 0x2069);
}

// Raises for the character at text[at], which code page 932 cannot hold: the whole character when
// it is a surrogate pair, quoted in UTF-8 when it shows in a line. Its kind lets a front end say how
// else the record can be written; the reason itself is about the record alone.
[[noreturn]] void failUnwritable(std::u16string_view text, std::size_t at)
{
    const char16_t unit = text[at];
    const bool pair = isHighSurrogate(unit) && at + 1 < text.size() && isLowSurrogate(text[at + 1]);
    if (!pair && (isHighSurrogate(unit) || isLowSurrogate(unit)))
        throw CommandFailure(Reason(Said::SurrogateNotCp932, {hexDigits(unit, 4)}));
    const char32_t codePoint = pair ? 0x10000u + ((unit - 0xD800u) << 10) + (text[at + 1] - 0xDC00u) : unit;
    if (showsInALine(codePoint)) {
        std::string shown;
        appendUtf8(shown, codePoint);
        throw CommandFailure(Reason(Said::ShownCharacterNotCp932, {hexDigits(codePoint, 4), shown}),
                             ReasonKind::NotInCodePage932);
    }
    throw CommandFailure(Reason(Said::CharacterNotCp932, {hexDigits(codePoint, 4)}),
                         ReasonKind::NotInCodePage932);
}

// Raises for an undecoded byte that the first byte of next would complete into a character: written
// together they would read back as that character, so the byte and next would both be lost.
[[noreturn]] void failJoined(unsigned byte, char16_t next)
{
    const std::string what =
        isUndecodedByte(next) ? describe(next - 0xDC00u, "byte 0x", 2) : describe(next, "U+", 4);
    throw CommandFailure(Reason(Said::UndecodedBefore, {hexDigits(byte, 2), what}));
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
    // The scan stops at the first character of code page 932's own.
    return !scanNotAscii(
        bytes, [](const unsigned char *in, const unsigned char *end) -> const unsigned char * {
            const unsigned byte = *in++;
            if (in == end || !joins(byte, *in)) {
                // A byte of its own: 0x80, 0xA0 and 0xFD-0xFF are single characters only code page 932
                // has; a lone lead byte is no character at all.
                return byte == 0x80 || byte == 0xA0 || byte >= 0xFD ? nullptr : in;
            }
            // A character of two bytes, read as a reader pairs them. Row 13 (lead byte 0x87), the NEC
            // and IBM extensions (0xED, 0xEE, 0xFA-0xFC) and the user-defined area (0xF0-0xF9) are
            // code page 932's own.
            return byte == 0x87 || byte == 0xED || byte == 0xEE || byte >= 0xF0 ? nullptr : in + 1;
        });
}

namespace {

// The scores of readingScores: the logarithm, in tenths, of how often a character of a kind
// stands in a Japanese game record.
constexpr int asciiScore = -15;
constexpr int neverScore = -100; // a byte that does not decode, a control character

// Returns the score of what follows a character outside ASCII at next: an ASCII letter or symbol
// right after one is rare in Japanese text ("戦A"), and so is the second byte of a code page 932
// character in the UTF-8 reading (子 is 8E 71: a "q" after the character that 8E ends); a
// lower-case letter is rarer still.
int afterWideScore(const unsigned char *next, const unsigned char *end)
{
    if (next == end || *next < 0x40 || *next > 0x7E)
        return 0;
    return *next >= 'a' && *next <= 'z' ? -40 : -20;
}

// Returns the score of the code page 932 character code (one byte, or two with the lead byte first).
int codeScore(unsigned code)
{
    if (code < 0x100) {
        if (code >= 0xA1 && code <= 0xDF)
            return -25;    // half-width katakana
        return neverScore; // 0x80, 0xA0, 0xFD-0xFF: a control or private use
    }
    if (code <= 0x819E)
        return -25; // Japanese punctuation and the full-width forms of ASCII's
    if (code <= 0x81FC)
        return -50; // symbols
    if (code <= 0x8258)
        return -25; // full-width digits
    if (code <= 0x829A)
        return -35; // full-width Latin letters
    if (code <= 0x82F1)
        return -15; // hiragana
    if (code <= 0x8396)
        return -17; // katakana
    if (code <= 0x86FF)
        return -55; // Greek, Cyrillic, box drawing
    if (code <= 0x879C)
        return -50; // NEC row 13: circled numbers, units
    if (code <= 0x889E)
        return -60;
    if (code <= 0x9872)
        return -30; // JIS level 1 kanji
    if (code <= 0xEAA4)
        return -50; // JIS level 2 kanji
    if (code >= 0xF040 && code <= 0xF9FC)
        return -90; // user-defined
    return -70;     // the NEC and IBM extensions
}

// Returns the score of a character that UTF-8 reads and code page 932 has no code for.
int uncodedScore(char32_t c)
{
    if (c < 0xA0 || (c >= 0xE000 && c <= 0xF8FF))
        return neverScore; // C1 controls, private use
    if (c < 0x250)
        return -55; // Latin letters with accents
    if (c < 0x800)
        return -70; // other alphabets of two bytes in UTF-8: Greek, Cyrillic, Hebrew, Arabic...
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF))
        return -70; // kanji outside JIS, Hangul
    if (c >= 0x10000)
        return -90;
    return -80;
}

} // namespace

ReadingScores readingScores(std::string_view bytes)
{
    ReadingScores scores;
    scanNotAscii(bytes, [&](const unsigned char *in, const unsigned char *end) {
        const unsigned byte = *in++;
        if (in != end && joins(byte, *in)) {
            // An ASCII second byte is a character of its own in UTF-8, which costs it there.
            scores.cp932 +=
                codeScore(byte << 8 | *in) - (*in < 0x80 ? asciiScore : 0) + afterWideScore(in + 1, end);
            return in + 1;
        }
        scores.cp932 += (cp932::leadRow[byte] != 0 ? neverScore : codeScore(byte)) + afterWideScore(in, end);
        return in;
    });
    scanNotAscii(bytes, [&](const unsigned char *in, const unsigned char *end) {
        const int length = utf8Length(in, end);
        if (length == 0) {
            scores.utf8 += neverScore;
            return in + 1;
        }
        const char32_t c = utf8CodePoint(in, length);
        const unsigned code = c < 0x10000 ? codeOf(static_cast<char16_t>(c)) : 0;
        // A letter after an accented one is Latin text; after a character of three bytes or four,
        // it is rare in Japanese text, and the second byte of a code page 932 character.
        scores.utf8 += (c < 0xA0    ? neverScore
                        : code != 0 ? codeScore(code)
                                    : uncodedScore(c)) +
                       (length >= 3 ? afterWideScore(in + length, end) : 0);
        return in + length;
    });
    return scores;
}

} // namespace quillarn
