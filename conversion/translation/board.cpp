// The Go board of board.h.
#include "board.h"

#include <stdexcept>
#include <string>

namespace quillarn {

namespace {

constexpr int directions[4] = {-1, 1, -(Board::maxSize + 2), Board::maxSize + 2};

} // namespace

Stone opponent(Stone colour)
{
    return colour == Stone::Black ? Stone::White : colour == Stone::White ? Stone::Black : Stone::None;
}

int pointCoordinate(char16_t letter)
{
    return letter >= u'a' && letter < u'a' + Board::maxSize ? letter - u'a' : -1;
}

Board::Board(int size) : size_(size)
{
    if (size < minSize || size > maxSize)
        throw std::invalid_argument("board size " + std::to_string(size) + " is not 2 to 25");
    cell_.fill(Border);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x)
            cell_[index(x, y)] = Empty;
    }
}

Stone Board::at(int x, int y) const
{
    if (!contains(x, y))
        return Stone::None;
    const std::uint8_t cell = cell_[index(x, y)];
    return cell == BlackStone ? Stone::Black : cell == WhiteStone ? Stone::White : Stone::None;
}

void Board::setStone(int x, int y, Stone stone)
{
    if (!contains(x, y))
        return;
    cell_[index(x, y)] = stone == Stone::Black ? BlackStone : stone == Stone::White ? WhiteStone : Empty;
    ko_ = -1;
}

void Board::pass()
{
    ko_ = -1;
}

bool Board::collectGroup(int point, bool stopAtLiberty)
{
    const std::uint8_t colour = cell_[point];
    ++stamp_;
    if (stamp_ == 0) { // wrapped: old marks could pass for new ones
        mark_.fill(0);
        stamp_ = 1;
    }
    bool liberty = false;
    groupSize_ = 0;
    group_[groupSize_++] = point;
    mark_[point] = stamp_;
    for (int next = 0; next < groupSize_; ++next) {
        for (const int d : directions) {
            const int neighbour = group_[next] + d;
            const std::uint8_t cell = cell_[neighbour];
            if (cell == Empty) {
                liberty = true;
                if (stopAtLiberty)
                    return true;
            } else if (cell == colour && mark_[neighbour] != stamp_) {
                mark_[neighbour] = stamp_;
                group_[groupSize_++] = neighbour;
            }
        }
    }
    return liberty;
}

int Board::countLiberties()
{
    // A new stamp, so that each empty point counts once however many stones touch it.
    ++stamp_;
    if (stamp_ == 0) {
        mark_.fill(0);
        stamp_ = 1;
    }
    int liberties = 0;
    for (int i = 0; i < groupSize_; ++i) {
        for (const int d : directions) {
            const int neighbour = group_[i] + d;
            if (cell_[neighbour] == Empty && mark_[neighbour] != stamp_) {
                mark_[neighbour] = stamp_;
                ++liberties;
            }
        }
    }
    return liberties;
}

void Board::removeGroup()
{
    for (int i = 0; i < groupSize_; ++i)
        cell_[group_[i]] = Empty;
}

MoveVerdict Board::play(Stone colour, int x, int y)
{
    const int point = index(x, y);
    if (cell_[point] != Empty)
        return MoveVerdict::Occupied;
    const Cell own = colour == Stone::Black ? BlackStone : WhiteStone;
    const Cell other = own == BlackStone ? WhiteStone : BlackStone;
    if (point == ko_ && own == koColour_)
        return MoveVerdict::KoRetake;

    cell_[point] = own;
    int captured = 0;
    int capturedAt = -1;
    for (const int d : directions) {
        const int neighbour = point + d;
        if (cell_[neighbour] == other && !collectGroup(neighbour, true)) {
            captured += groupSize_;
            capturedAt = neighbour;
            removeGroup();
        }
    }
    if (captured == 0 && !collectGroup(point, true)) {
        cell_[point] = Empty;
        return MoveVerdict::Suicide;
    }

    captures_[own == BlackStone ? 0 : 1] += captured;

    // A lone stone that took one stone and has that point as its only liberty may be taken back
    // at once by a stone there, which the opponent may not play next.
    ko_ = -1;
    if (captured == 1) {
        collectGroup(point, false);
        if (groupSize_ == 1 && countLiberties() == 1) {
            ko_ = capturedAt;
            koColour_ = other;
        }
    }
    return MoveVerdict::Legal;
}

} // namespace quillarn
