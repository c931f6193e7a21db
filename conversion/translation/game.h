// What a record's moves do on a Go board, as an SGF reader replays them: the handicap stones that a
// record implies but does not place (HA alone puts no stone on a reader's board), and the first move
// that a reader's board refuses.
#pragma once

#include "board.h"
#include "catalogue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

// A move of a record as the replay takes it.
struct ReplayedMove {
    Stone colour; // None for a colour other than B and W
    // The point, 0-based as Board counts: x = y = -1 for a pass; a point off the board (or a letter
    // that names no point) has a coordinate outside 0 to size - 1.
    std::int8_t x;
    std::int8_t y;
};

// The game a record holds, as the replay found it: the board the moves were played on, the handicap
// stones placed before them and, when asked for, every move, so that the game can be stepped through.
struct GamePosition {
    int size = 0; // 0 when the size is not a number from 2 to 25: the moves were not replayed
    std::vector<std::pair<int, int>> handicapStones; // the stones written as AB, as x, y
    std::vector<ReplayedMove> moves;                 // every move in order, with GameDetail::Moves
    std::optional<Board> board; // after every move, with GameDetail::Board or Moves; none when size is 0
};

// Returns the board of position after its handicap stones and its first `moves` moves (all of them
// when there are fewer), replayed as GameCheck replays them: a move the board refuses leaves it as
// it was. Raises CommandFailure when position.size is 0.
Board boardAfter(const GamePosition &position, std::size_t moves);

// How much of the game a replay keeps beyond its warnings, which are the same whatever it keeps.
enum class GameDetail {
    None,  // nothing: each replay stops at its first refused move, which is all the warnings need
    Board, // the board after every move (GamePosition::board)
    Moves, // that, and every move (GamePosition::moves)
};

struct GameReport {
    std::string handicapStones;   // "AB[pd][dp]..." to follow KM in the root node; empty for none
    std::vector<Reason> warnings; // one line each, in the order found
    GamePosition position;
};

// Replays the move nodes of one record, given one at a time, and decides its handicap stones.
// For a handicap of 2 to 9 on a 9, 13 or 19 board whose first move is White's, or that has no moves,
// the stones go at the Japanese placement; they are left out (with a warning) when a move lands on
// one of them, and when Black moves first or the handicap or the size has no placement (then only
// with a handicap of 2 or more), or when the handicap is not a number (anything but decimal digits;
// empty is no handicap). A move the board refuses (an occupied point, suicide, a ko retake, a point
// off the board, a colour other than B or W) leaves the board as it was and the replay goes on: the
// one rule of a refused move, which the SGF reader (sgfreader.h) follows too and docs/ugi-format.md
// states. The first refused move becomes a warning. Costs a few microseconds a move; keeps nothing
// between records, and the board and the moves only when asked to.
class GameCheck {
public:
    // size, handicap: the values of the record's SZ and HA properties, as written. detail: what the
    // report's position holds (every move takes a few bytes: a record of millions takes megabytes).
    GameCheck(std::u16string_view size, std::u16string_view handicap, GameDetail detail = GameDetail::None);

    // The next move node: its colour and its point, unescaped: two letters ("tt" passes on a board of
    // up to 19 lines), or empty for the empty value, a pass on every board. A point of other than two
    // letters names no point of any board.
    void move(char16_t colour, std::u16string_view point);

    // Returns the stones to add, the warnings and the position, once every move has been given.
    // Call it once.
    GameReport finish();

private:
    // One replay of the moves on a board, which notes the first move the board refuses.
    struct Replay {
        std::optional<Board> board;
        Reason refusal;    // the warning for the first refused move; empty while none was
        int refusedX = -1; // the point of that move when it was refused for landing on a stone
        int refusedY = -1;
        bool wholeGame = false; // goes on after a refused move; otherwise drops its board there
        void play(int number, char16_t colour, std::u16string_view point, int size);
        void refuse(Reason warning, int x = -1, int y = -1);
    };

    int size_ = 0;     // 0 when SZ is not a number from 2 to 25
    int handicap_ = 0; // HA as a number (9999 for any larger); 0 when it is none or not a number
    std::u16string handicapText_;
    std::u16string sizeText_;
    std::string handicapStones_; // the placement for handicap_ on size_, empty when there is none
    std::vector<std::pair<int, int>> handicapPoints_;
    int moves_ = 0;
    GameDetail detail_ = GameDetail::None;
    std::vector<ReplayedMove> kept_;
    char16_t firstColour_ = 0;
    Replay withStones_;    // the moves on a board with the handicap stones
    Replay withoutStones_; // and on an empty one
};

} // namespace quillarn
