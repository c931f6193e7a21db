// What a record's moves do on a Go board, as an SGF reader replays them: the handicap stones that a
// record implies but does not place (HA alone puts no stone on a reader's board), and the first move
// that a reader's board refuses.
#pragma once

#include "board.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

struct GameReport {
    std::string handicapStones;        // "AB[pd][dp]..." to follow KM in the root node; empty for none
    std::vector<std::string> warnings; // one line each, in the order found
};

// Replays the move nodes of one record, given one at a time, and decides its handicap stones.
// For a handicap of 2 to 9 on a 9, 13 or 19 board whose first move is White's, or that has no moves,
// the stones go at the Japanese placement; they are left out (with a warning) when a move lands on
// one of them, and when Black moves first or the handicap or the size has no placement (then only
// with a handicap of 2 or more). The replay stops at the first move the board refuses (an occupied
// point, suicide, a ko retake, a point off the board, a colour other than B or W), which becomes a
// warning. Costs a few microseconds a move; keeps nothing between records.
class GameCheck {
public:
    // size, handicap: the values of the record's SZ and HA properties, as written.
    GameCheck(std::u16string_view size, std::u16string_view handicap);

    // The next move node: its colour and the two letters of its point, as written ("tt" passes on a
    // board of up to 19 lines).
    void move(char16_t colour, char16_t x, char16_t y);

    // Returns the stones to add and the warnings, once every move has been given.
    GameReport finish() const;

private:
    // One replay of the moves on a board, which stops at the first move the board refuses.
    struct Replay {
        std::optional<Board> board;
        std::string refusal; // the warning for the refused move; empty while every move was played
        int refusedX = -1;   // the point of a move refused for landing on a stone
        int refusedY = -1;
        void play(int number, char16_t colour, char16_t x, char16_t y, int size);
    };

    int size_ = 0;     // 0 when SZ is not a number from 2 to 25
    int handicap_ = 0; // HA as a number; 0 when it is none
    std::u16string sizeText_;
    std::string handicapStones_; // the placement for handicap_ on size_, empty when there is none
    std::vector<std::pair<int, int>> handicapPoints_;
    int moves_ = 0;
    char16_t firstColour_ = 0;
    Replay withStones_;    // the moves on a board with the handicap stones
    Replay withoutStones_; // and on an empty one
};

} // namespace quillarn
