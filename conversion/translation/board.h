// A Go board for replaying records: stones, captures, and what makes a move illegal (an occupied
// point, suicide, an immediate ko retake). Sizes 2 to 25, as SGF points "a" to "y" reach. Each board
// is a value of its own: nothing is shared between boards or kept between records.
#pragma once

#include <array>
#include <cstdint>

namespace quillarn {

enum class Stone : std::uint8_t { None, Black, White };

// Returns the other colour (Black for White and the reverse); None for None.
Stone opponent(Stone colour);

// What playing a stone did, or why it was not played.
enum class MoveVerdict : std::uint8_t {
    Legal,    // placed; the opposing groups it left without liberties are removed
    Occupied, // the point holds a stone already
    Suicide,  // it would leave its own group without liberties while capturing nothing
    KoRetake, // it would retake a ko at once, capturing back the one stone that just captured
};

class Board {
public:
    static constexpr int minSize = 2;
    static constexpr int maxSize = 25;

    // An empty board of size x size points. Raises std::invalid_argument for a size outside
    // minSize..maxSize.
    explicit Board(int size);

    int size() const { return size_; }

    // Returns the stone at column x, row y: 0-based, x from the left and y from the top, as SGF's
    // letters count them ("pd" is x 15, y 3). None outside the board.
    Stone at(int x, int y) const;

    // Puts stone at x, y (None empties the point) without capturing anything, as the setup
    // properties AB, AW and AE do, and forgets any ko. A point outside the board is ignored.
    void setStone(int x, int y, Stone stone);

    // Plays colour (Black or White) at x, y, which must be on the board. Returns Legal once the
    // stone is placed and the opposing groups without liberties are removed; any other verdict
    // leaves the board as it was.
    MoveVerdict play(Stone colour, int x, int y);

    // A pass: forgets any ko.
    void pass();

    // Returns how many stones colour has captured by its moves so far (setup stones count none).
    int captures(Stone colour) const { return colour == Stone::White ? captures_[1] : captures_[0]; }

    // Returns true when x, y is a point of this board.
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < size_ && y < size_; }

private:
    // Points are kept with a border of one point around them, so that neighbours need no bounds test.
    static constexpr int stride = maxSize + 2;
    static constexpr int cells = stride * stride;
    enum Cell : std::uint8_t { Empty, BlackStone, WhiteStone, Border };

    static int index(int x, int y) { return (y + 1) * stride + (x + 1); }
    // Collects the group at point into group_ (groupSize_ stones); returns true as soon as it finds
    // a liberty when stopAtLiberty, otherwise after the whole group, true when it has any.
    bool collectGroup(int point, bool stopAtLiberty);
    // Returns the number of liberties of the group just collected, counting each point once.
    int countLiberties();
    void removeGroup();

    int size_;
    std::array<std::uint8_t, cells> cell_{};
    int ko_ = -1;                   // the point where koColour_ may not play next, -1 for none
    Cell koColour_ = Empty;         // who may not retake there
    std::array<int, 2> captures_{}; // stones captured by Black, by White
    // Scratch space for group searches, marked with a new stamp for each search.
    std::array<std::uint32_t, cells> mark_{};
    std::uint32_t stamp_ = 0;
    std::array<int, cells> group_{};
    int groupSize_ = 0;
};

// Returns the board coordinate an SGF point letter stands for: "a" to "y" as 0 to 24, -1 for any
// other character.
int pointCoordinate(char16_t letter);

} // namespace quillarn
