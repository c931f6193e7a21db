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

// Returns true when bytes read as code page 932 are plain Japanese text: every byte decodes, no
// character is a control character (0x80) or private use (0xA0, 0xFD-0xFF, the user-defined
// characters), and no half-width katakana stands next to a character of two bytes. The UTF-8 of
// Japanese text, read so, mostly breaks one of these.
bool isPlainJapanese(std::string_view bytes);

// Returns true when valid UTF-8 bytes hold only characters that code page 932 has a code for, and no
// ASCII character from "@" to "~" right after a character outside ASCII: the second byte of a code
// page 932 character, 0x40-0x7E, reads so when its first byte ends a UTF-8 character (子 is 8E 71,
// "q" after the character that 8E ends). Japanese text in UTF-8 keeps to these.
bool isPlainJapaneseUtf8(std::string_view bytes);

// Returns true when the byte lead followed by the byte trail reads as one double-byte character of
// code page 932; then decodeAnsi takes them together, otherwise lead stands alone.
bool isDoubleByteCharacter(unsigned char lead, unsigned char trail);

} // namespace quillarn
