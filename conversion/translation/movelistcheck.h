// What a damaged move list shows, though every move line still converts: lines of the data section
// that are not moves (a line cut short, a line whose commas were lost), gaps and repeats in the move
// numbers the lines carry ("QD,B12,..."), no data section at all, and a move count in the header
// ("Moves=230") that differs from the moves read. It only warns: the moves written stay those of the
// lines that hold a comma.
#pragma once

#include "catalogue.h"
#include "text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

class MoveListCheck {
public:
    // The next line of the data section, without its line end, numbered in the source: one that gave
    // no move node. For the code units of a decoded line and the bytes of one alike.
    template <typename Char> void notMove(std::basic_string_view<Char> text, Int32 number)
    {
        for (const Char c : text) {
            if (c != Char(' ') && c != Char('\t')) {
                if (notMoves_++ == 0)
                    firstNotMove_ = number;
                return;
            }
        }
        // a blank line
    }

    // The next line, one that gave a move node, its first comma at comma.
    template <typename Char> void move(std::basic_string_view<Char> text, std::size_t comma, Int32 number)
    {
        ++moves_;
        // The move's number: the digits after the colour, which follows the comma.
        long long carried = 0;
        std::size_t digits = 0;
        for (std::size_t at = comma + 2;
             at < text.size() && text[at] >= Char('0') && text[at] <= Char('9') && digits < 9; ++at, ++digits)
            carried = carried * 10 + (text[at] - Char('0'));
        if (digits == 0)
            return;
        if (carried != expected_ && gapLine_ == 0) {
            gapLine_ = number;
            gapExpected_ = expected_;
            gapCarried_ = carried;
        }
        expected_ = carried + 1;
    }

    // Returns the warnings, in order: no data section (hasData false), the first line that is not a
    // move, the first gap or repeat in the numbers, and a count the header declares (declared, the
    // value of "Moves=" when the header holds it) that the moves read do not match.
    std::vector<Reason> finish(bool hasData, const std::u16string *declared) const;

private:
    long long moves_ = 0;
    long long notMoves_ = 0;
    Int32 firstNotMove_ = 0;
    long long expected_ = 1;
    Int32 gapLine_ = 0;
    long long gapExpected_ = 0;
    long long gapCarried_ = 0;
};

} // namespace quillarn
