// The text operations every translation step is written in: 1-based positions over UTF-16 code units,
// with fixed failure rules, and the checked 16- and 32-bit position arithmetic they are computed in.
// Every failure is a CommandFailure; nothing here returns an error code.
#pragma once

#include "commandfailure.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quillarn {

// Position values. Each caller says which width its positions use; leaving the width raises. The
// record format counts within a line in 16 bits (a data line's comma and the colour after it, the
// characters of a date): a step one past the last such position must still fit, which is why those
// lines hold at most 32766. Whole sources count in 32 bits (maxSourceBytes).
using Int16 = std::int16_t;
using Int32 = std::int32_t;

// Returns value as a 16-bit position; raises CommandFailure when it lies outside -32768..32767.
Int16 toInt16(Int32 value);
// Checked additions and subtractions; raise CommandFailure when the result leaves the width.
Int16 add16(Int16 a, Int16 b);
Int16 sub16(Int16 a, Int16 b);
Int32 add32(Int32 a, Int32 b);
Int32 sub32(Int32 a, Int32 b);

// The operations below never copy: a returned view points into the argument's storage and lives
// as long as it does. Arguments are tested before anything is produced.

// Returns the number of code units; raises when the text is longer than a 32-bit position allows.
Int32 Len(std::u16string_view text);
// Returns the 1-based position of the first occurrence of needle, 0 when there is none.
// Exact comparison of code units: case-sensitive.
Int32 InStr(std::u16string_view text, std::u16string_view needle);
// Returns the text from start to its end (empty past the end); raises when start < 1.
std::u16string_view Mid(std::u16string_view text, Int32 start);
// Returns at most length code units from start; raises when start < 1 or length < 0.
std::u16string_view Mid(std::u16string_view text, Int32 start, Int32 length);
// Returns the first / last n code units (the whole text when n >= Len); raise when n < 0.
std::u16string_view Left(std::u16string_view text, Int32 n);
std::u16string_view Right(std::u16string_view text, Int32 n);
// Return the text with letters mapped to lower / upper case: ASCII, Latin-1, Greek, Cyrillic and
// the full-width Latin letters; every other code unit is copied unchanged.
std::u16string LCase(std::u16string_view text);
std::u16string UCase(std::u16string_view text);
// Returns one code unit as LCase maps it.
char16_t lowerCaseUnit(char16_t c);

// Returns value in upper-case hexadecimal, at least digits digits long.
std::string hexDigits(unsigned long value, int digits);

// Returns how a reason shows the byte or code unit c: a printable ASCII character quoted ("\"]\""),
// anything else as prefix and its value in hexadecimal, digits long ("byte 0x81", "U+30BD").
std::string describe(unsigned c, const char *prefix, int digits);

// The code units that are half a character (a UTF-16 surrogate) and the ones that stand for a byte of
// the source that did not decode (U+DC00 + byte, for bytes 0x80-0xFF: a low surrogate that no high
// one precedes, so that no character is ever taken for one).
inline bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
inline bool isUndecodedByte(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

// Returns c with A-Z made a-z; every other byte as it is. For names people type and file names.
inline char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace quillarn
