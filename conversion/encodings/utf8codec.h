// UTF-8, the encoding an editor may have saved a source in and the one ugi2sgf writes by default:
// one test of what valid UTF-8 is (utf8Length), which every reading of UTF-8 goes through, and the
// one encoder. Valid UTF-8 has no overlong forms, no surrogates (U+D800-U+DFFF) and nothing beyond
// U+10FFFF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillarn {

// Returns how many bytes from in on (in before end) make one valid character: 1 for an ASCII byte,
// 2 to 4 for a character of that many bytes; 0 when they make none (a continuation byte, a byte
// that starts no character, an overlong form, a surrogate, a code point beyond U+10FFFF, a
// character cut short by end). With shown, sets it to the bytes a reason shows of them: those the
// first byte announces, up to and including the first that does not belong.
int utf8Length(const unsigned char *in, const unsigned char *end, int *shown = nullptr);

// Returns the code point of the valid character of length bytes (utf8Length) at in.
char32_t utf8CodePoint(const unsigned char *in, int length);

// Appends the UTF-8 bytes of the code point c, which is not a surrogate, to out.
void appendUtf8(std::string &out, char32_t c);

// Returns the UTF-8 bytes of text. Raises CommandFailure when text holds an undecoded byte
// (U+DC80-U+DCFF) or another unpaired surrogate, which UTF-8 cannot carry.
std::string encodeUtf8(std::u16string_view text);

// Returns the text of UTF-8 bytes (a byte-order mark is the character U+FEFF, as anywhere else).
// Raises CommandFailure at the first bytes that are not UTF-8, naming them and where they stand,
// with lines counted by LF and columns in bytes from 1: "line 3, column 12: byte 0x82 is not valid
// UTF-8", "line 1, column 5: bytes 0xE4 0x41 are not valid UTF-8" (a character's bytes up to the
// first wrong one).
std::u16string decodeUtf8(std::string_view bytes);

// How bytes read as UTF-8, found without decoding them.
struct Utf8Shape {
    bool valid = true;           // every character decodes (decodeUtf8 would not raise)
    bool ascii = true;           // every byte is ASCII
    bool longCharacters = false; // a character of three or four bytes is among them
};

// Returns how bytes read as UTF-8. Never raises.
Utf8Shape utf8Shape(std::string_view bytes);

} // namespace quillarn
