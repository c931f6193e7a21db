// UTF-8 read a character at a time, for the two places that look at each character of
// a name: shownText (shown.h), which escapes the ones that would talk to a terminal, and
// foldedCase (casefold.h), which compares names as Windows does.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillarn {

// A character of UTF-8 text, and how many bytes it takes: 0 when the byte it starts at begins no
// valid character (a stray continuation byte, a sequence cut short, an overlong form, a surrogate
// or a value beyond U+10FFFF), which the callers then keep or escape as a byte of its own.
struct Utf8Character {
    char32_t value = 0;
    std::size_t length = 0;
};

inline Utf8Character utf8CharacterAt(std::string_view text, std::size_t at)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80)
        return {byte, 1};
    const std::size_t length = byte >= 0xF8 ? 0 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
    char32_t value = byte & (0x7F >> length);
    bool valid = length != 0 && at + length <= text.size();
    for (std::size_t i = 1; valid && i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        valid = (next & 0xC0) == 0x80;
        value = value << 6 | (next & 0x3F);
    }
    // The shortest form only: an overlong one could spell "/" or a control character unseen.
    static constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && value >= shortest[length] && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
    if (!valid)
        return {};
    return {value, length};
}

} // namespace quillarn
