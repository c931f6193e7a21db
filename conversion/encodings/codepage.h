// Conversion between the bytes of UGI and SGF files and text in code page 932 (Windows-31J), the
// code page of the Japanese systems these records come from, on every system whatever its own code
// page is (UTF-8 is utf8codec.h's). Nothing is ever lost: a code page 932 byte that does not decode
// becomes the single code unit U+DC00 + byte, and encoding turns that code unit back into the same
// byte.
#pragma once

#include <string>
#include <string_view>

namespace quillarn {

// Returns the text of bytes. Never raises: undecodable bytes (0x80-0xFF) become U+DC80-U+DCFF.
std::u16string decodeAnsi(std::string_view bytes);

// Returns the bytes of text. A character that code page 932 holds twice comes back as the code
// Windows writes for it. Raises CommandFailure when text holds a character the code page cannot
// hold (never replaced silently), naming it, of ReasonKind::NotInCodePage932:
// 'character U+00E9 "é" cannot be written in code page 932' (the quoted character in UTF-8, left out
// for a control or layout character); or an undecoded byte that the first byte written after it
// would complete into a character (it would read back as that character, losing both).
std::string encodeAnsi(std::u16string_view text);

// Appends the bytes of text, as encodeAnsi returns them, to out; raises as encodeAnsi does, and then
// out may hold part of them.
void appendAnsi(std::string &out, std::u16string_view text);

// Returns true when bytes, read as code page 932 reads them, hold a character that plain Shift_JIS
// does not have: NEC row 13 (such as U+2460), the NEC and IBM extensions (such as U+9AD9), a
// user-defined character, or one of the single bytes 0x80, 0xA0 and 0xFD-0xFF. A strict Shift_JIS
// reader refuses such a file.
bool usesCodePage932Extensions(std::string_view bytes);

// How plausible the two readings of bytes are as the text of a Japanese game record: for each
// reading, the sum over its characters of the logarithm (in tenths) of how often such a character
// stands in one. Hiragana and katakana are common, the kanji of JIS level 1 far commoner than those
// of level 2, half-width katakana and Japanese punctuation in between; letters of other scripts,
// rare symbols, controls, code page 932's own extensions and bytes that do not decode are rare or
// never seen. ASCII characters count alike in both readings and are left out, but for those that
// code page 932 takes as the second byte of a character.
struct ReadingScores {
    long long cp932 = 0;
    long long utf8 = 0;
};

// Returns the scores of bytes read as code page 932 and as UTF-8 (a byte that is not valid UTF-8
// counts as a character that never stands in a record). Never raises.
ReadingScores readingScores(std::string_view bytes);

// Returns true when the byte lead followed by the byte trail reads as one double-byte character of
// code page 932; then decodeAnsi takes them together, otherwise lead stands alone.
bool isDoubleByteCharacter(unsigned char lead, unsigned char trail);

} // namespace quillarn
