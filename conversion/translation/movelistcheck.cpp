// The warnings of movelistcheck.h.
#include "movelistcheck.h"

namespace quillarn {

std::vector<std::string> MoveListCheck::finish(bool hasData, const std::u16string *declared) const
{
    std::vector<std::string> warnings;
    if (!hasData)
        warnings.push_back("no [Data] section: the record has no moves");
    if (notMoves_ > 0) {
        std::string warning = "line " + std::to_string(firstNotMove_) + " is not a move (no comma)";
        if (notMoves_ == 2)
            warning += ", nor is 1 more line";
        else if (notMoves_ > 2)
            warning += ", nor are " + std::to_string(notMoves_ - 1) + " more lines";
        warnings.push_back(warning);
    }
    if (gapLine_ != 0) {
        const std::string line =
            "line " + std::to_string(gapLine_) + " is move " + std::to_string(gapCarried_);
        if (gapCarried_ < gapExpected_)
            warnings.push_back(line + ": a repeat, move " + std::to_string(gapExpected_) + " was next");
        else if (gapCarried_ == gapExpected_ + 1)
            warnings.push_back(line + ": move " + std::to_string(gapExpected_) + " is missing");
        else
            warnings.push_back(line + ": moves " + std::to_string(gapExpected_) + " to " +
                               std::to_string(gapCarried_ - 1) + " are missing");
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
            warnings.push_back("the header gives " + digits + " moves (Moves=) but " +
                               std::to_string(moves_) + (moves_ == 1 ? " was read" : " were read"));
    }
    return warnings;
}

} // namespace quillarn
