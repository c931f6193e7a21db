// The case folding of casefold.h.
#include "casefold.h"

#include "utf8character.h"

#include <algorithm>

namespace quillarn {

char32_t foldedCase(char32_t c)
{
    const casefold::Run *const end = casefold::runs + casefold::runCount;
    const casefold::Run *const after = std::upper_bound(
        casefold::runs, end, c, [](char32_t value, const casefold::Run &run) { return value < run.first; });
    if (after == casefold::runs)
        return c;
    const casefold::Run &run = after[-1];
    if (c > run.last || (c - run.first) % run.step != 0)
        return c;
    return static_cast<char32_t>(static_cast<std::int64_t>(c) + run.difference);
}

std::string foldedCase(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Character c = utf8CharacterAt(text, at);
        if (c.length == 0) {
            folded += text[at];
            ++at;
            continue;
        }
        if (c.value < 0x80) {
            folded += static_cast<char>(c.value >= 'A' && c.value <= 'Z' ? c.value + ('a' - 'A') : c.value);
            ++at;
            continue;
        }
        // Written back in the length it takes now: a folded character may take fewer or more bytes
        // (U+212A KELVIN SIGN, three, folds to k, one).
        const char32_t f = foldedCase(c.value);
        if (f < 0x80) {
            folded += static_cast<char>(f);
        } else if (f < 0x800) {
            folded += static_cast<char>(0xC0 | f >> 6);
            folded += static_cast<char>(0x80 | (f & 0x3F));
        } else if (f < 0x10000) {
            folded += static_cast<char>(0xE0 | f >> 12);
            folded += static_cast<char>(0x80 | (f >> 6 & 0x3F));
            folded += static_cast<char>(0x80 | (f & 0x3F));
        } else {
            folded += static_cast<char>(0xF0 | f >> 18);
            folded += static_cast<char>(0x80 | (f >> 12 & 0x3F));
            folded += static_cast<char>(0x80 | (f >> 6 & 0x3F));
            folded += static_cast<char>(0x80 | (f & 0x3F));
        }
        at += c.length;
    }
    return folded;
}

} // namespace quillarn
