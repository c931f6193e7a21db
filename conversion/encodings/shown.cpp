// The escaping of shown.h.
#include "shown.h"

#include "utf8character.h"

namespace quillarn {

std::string shownText(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    const auto escape = [&](char kind, unsigned value, int width) {
        shown += '\\';
        shown += kind;
        for (int shift = (width - 1) * 4; shift >= 0; shift -= 4)
            shown += digits[(value >> shift) & 0xF];
    };
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Character c = utf8CharacterAt(text, at);
        if (c.length == 0) {
            escape('x', static_cast<unsigned char>(text[at]), 2);
            ++at;
            continue;
        }
        const char32_t value = c.value;
        if (value == '\n')
            shown += "\\n";
        else if (value == '\r')
            shown += "\\r";
        else if (value == '\t')
            shown += "\\t";
        else if (value < 0x20 || value == 0x7F)
            escape('x', static_cast<unsigned>(value), 2);
        else if ((value >= 0x80 && value < 0xA0) || value == 0x2028 || value == 0x2029 || value == 0x200E ||
                 value == 0x200F || (value >= 0x202A && value <= 0x202E) ||
                 (value >= 0x2066 && value <= 0x2069))
            escape('u', static_cast<unsigned>(value), 4);
        else
            shown.append(text.substr(at, c.length));
        at += c.length;
    }
    return shown;
}

std::string shownPath(const std::filesystem::path &path)
{
    return shownText(path.u8string());
}

} // namespace quillarn
