// The warnings of movelistcheck.h.
#include "movelistcheck.h"

namespace quillarn {

std::vector<Reason> MoveListCheck::finish(bool hasData, const std::u16string *declared) const
{
    std::vector<Reason> warnings;
    if (!hasData)
        warnings.emplace_back(Said::NoDataSection);
    if (notMoves_ > 0) {
        const std::string first = std::to_string(firstNotMove_);
        if (notMoves_ == 1)
            warnings.emplace_back(Said::NotAMove, std::vector<Reason>{first});
        else if (notMoves_ == 2)
            warnings.emplace_back(Said::NotAMoveNorOneMore, std::vector<Reason>{first});
        else
            warnings.emplace_back(Said::NotAMoveNorMore,
                                  std::vector<Reason>{first, std::to_string(notMoves_ - 1)});
    }
    if (gapLine_ != 0) {
        const std::string line = std::to_string(gapLine_);
        const std::string carried = std::to_string(gapCarried_);
        const std::string expected = std::to_string(gapExpected_);
        if (gapCarried_ < gapExpected_)
            warnings.emplace_back(Said::MoveRepeated, std::vector<Reason>{line, carried, expected});
        else if (gapCarried_ == gapExpected_ + 1)
            warnings.emplace_back(Said::MoveMissing, std::vector<Reason>{line, carried, expected});
        else
            warnings.emplace_back(Said::MovesMissing, std::vector<Reason>{line, carried, expected,
                                                                          std::to_string(gapCarried_ - 1)});
    }
    if (declared != nullptr) {
        std::string digits;
        for (const char16_t c : *declared) {
            if (c != u' ')
                digits += static_cast<char>(c < 0x80 ? c : '?');
        }
        const bool number = !digits.empty() && digits.size() <= 9 &&
                            digits.find_first_not_of("0123456789") == std::string::npos;
        if (number && std::stoll(digits) != moves_)
            warnings.emplace_back(moves_ == 1 ? Said::OneMoveRead : Said::MovesRead,
                                  std::vector<Reason>{digits, std::to_string(moves_)});
    }
    return warnings;
}

} // namespace quillarn
