// The case folding of casefold.h.
#include "casefold.h"

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
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            folded += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte);
            ++at;
            continue;
        }
        const std::size_t length = byte >= 0xF8   ? 0
                                   : byte >= 0xF0 ? 4
                                   : byte >= 0xE0 ? 3
                                   : byte >= 0xC0 ? 2
                                                  : 0;
        char32_t c = byte & (0x7F >> length);
        bool valid = length != 0 && at + length <= text.size();
        for (std::size_t i = 1; valid && i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            valid = (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3F);
        }
        if (!valid) {
            folded += static_cast<char>(byte);
            ++at;
            continue;
        }
        // Written back in the length it takes now: a folded character may take fewer or more bytes
        // (U+212A KELVIN SIGN, three, folds to k, one).
        const char32_t f = foldedCase(c);
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
        at += length;
    }
    return folded;
}

} // namespace quillarn
