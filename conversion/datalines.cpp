// The data lines of datalines.h.
#include "datalines.h"

#include <cstdint>
#include <cstring>

namespace quillarn {

std::size_t findLineEnd(std::string_view text, std::size_t from)
{
    // Eight bytes at a time: data lines are short, and this runs over every byte of the data twice.
    std::size_t at = from;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, sizeof word);
        const std::uint64_t lf = word ^ (ones * '\n');
        const std::uint64_t cr = word ^ (ones * '\r');
        // A zero byte in lf or cr is a line end; the lowest flagged byte is always a true one.
        const std::uint64_t found = (((lf - ones) & ~lf) | ((cr - ones) & ~cr)) & highs;
        if (found != 0)
            return at + static_cast<std::size_t>(__builtin_ctzll(found) / 8);
    }
#endif
    for (; at < text.size(); ++at) {
        if (text[at] == '\n' || text[at] == '\r')
            return at;
    }
    return std::string_view::npos;
}

std::u16string_view AsciiMove::point(bool emptyPass, char16_t (&units)[2]) const
{
    char bytes[2] = {};
    const std::size_t length = movePoint(x, y, emptyPass, bytes);
    units[0] = static_cast<unsigned char>(bytes[0]);
    units[1] = static_cast<unsigned char>(bytes[1]);
    return {units, length};
}

LineKind readAsciiMove(std::string_view line, AsciiMove &move)
{
    std::size_t comma = 0;
    for (; comma < line.size() && line[comma] != ','; ++comma) {
        if (static_cast<unsigned char>(line[comma]) >= 0x80)
            return LineKind::Other;
    }
    if (comma == line.size())
        return LineKind::NoMove;
    // comma counts from 0: the 1-based positions 3 to 32766 that appendMoveNode takes without a
    // reason, the colour's 16-bit position still within reach.
    if (comma < 2 || comma >= 32766 || comma + 1 == line.size() || line[comma + 1] < 'A' ||
        line[comma + 1] > 'Z')
        return LineKind::Other;
    move.colour = line[comma + 1];
    move.x = lowerAscii(line[comma - 2]);
    move.y = lowerAscii(line[comma - 1]);
    return LineKind::Move;
}

} // namespace quillarn
