// The SGF position reader: a game played on a Board, written as SGF, reads back as the same position.
#include "board.h"
#include "commandfailure.h"
#include "sgfreader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace quillarn;

namespace {

std::string positionOf(const Board &board)
{
    std::string position;
    for (int y = 0; y < board.size(); ++y) {
        for (int x = 0; x < board.size(); ++x) {
            const Stone s = board.at(x, y);
            position += s == Stone::Black ? 'X' : s == Stone::White ? 'O' : '.';
        }
        position += '/';
    }
    return position;
}

std::string point(int x, int y)
{
    return {static_cast<char>('a' + x), static_cast<char>('a' + y)};
}

// The position as AB and AW, each row's runs of one colour as rectangles "aa:ca".
std::string setupOf(const Board &board)
{
    std::string black = "AB";
    std::string white = "AW";
    for (int y = 0; y < board.size(); ++y) {
        for (int x = 0; x < board.size();) {
            const Stone stone = board.at(x, y);
            int end = x;
            while (end + 1 < board.size() && board.at(end + 1, y) == stone)
                ++end;
            const std::string value = "[" + point(x, y) + (end > x ? ":" + point(end, y) : "") + "]";
            (stone == Stone::Black ? black : white) += stone == Stone::None ? "" : value;
            x = end + 1;
        }
    }
    return (black.size() > 2 ? black : "") + (white.size() > 2 ? white : "");
}

} // namespace

// Random games of several sizes (captures, passes as "" and "tt", moves the board refuses), written
// with comments that hold escapes and with other variations at random branch points, or as the
// final position in AB and AW: the reader's board holds the position the game's board holds.
TEST(SgfReader, ReplayingTheWrittenGameGivesTheBoardsPosition)
{
    std::mt19937 random(15);
    const int sizes[] = {2, 5, 9, 13, 19, 25};
    for (int game = 0; game < 72; ++game) {
        const int size = sizes[game % 6];
        Board board(size);
        std::vector<std::string> nodes;
        Stone colour = Stone::Black;
        for (int attempt = 0; attempt < size * size * 2; ++attempt) {
            std::string move;
            if (random() % 16 == 0) {
                board.pass();
                move = size <= 19 && random() % 2 ? "tt" : "";
            } else {
                const int x = static_cast<int>(random() % size);
                const int y = static_cast<int>(random() % size);
                // A refused move is written now and then: the reader leaves it out as the board did.
                if (board.play(colour, x, y) != MoveVerdict::Legal && random() % 4 != 0)
                    continue;
                move = point(x, y);
            }
            nodes.push_back((colour == Stone::Black ? ";B[" : ";W[") + move + "]" +
                            (random() % 8 == 0 ? "C[a \\] b \\\\ (;B[aa\\])]" : ""));
            colour = opponent(colour);
        }
        // Nodes from..end of the main line; at a random node it branches: the main line goes on in
        // the first variation, and a second holds other moves and variations of its own.
        const auto line = [&](std::size_t from, const auto &self) -> std::string {
            std::string text;
            for (std::size_t i = from; i < nodes.size(); ++i) {
                if (i > from && random() % 40 == 0)
                    return text + "(" + self(i, self) + ")\n(;W[aa]C[x](;B[bb])(;B[cc]))";
                text += nodes[i];
            }
            return text;
        };
        const std::string root =
            "(;GM[1]FF[4]" + (size == 19 && game % 4 == 0 ? "" : "SZ[" + std::to_string(size) + "]");
        const std::string sgf =
            game % 3 == 0 ? root + setupOf(board) + ")" : root + "C[root]" + line(0, line) + ")";
        SCOPED_TRACE(sgf);
        EXPECT_EQ(positionOf(readSgfPosition(sgf)), positionOf(board));
    }
}

TEST(SgfReader, FilesThatAreNotRecordsRaise)
{
    for (const char *bytes : {"", "[Header]\r\n", "(;B[aa]", "(;C[x)", "(;B[aa](;W[bb])", "(B[aa])",
                              "(;B[aa]{)", "(;SZ[26])", "(;SZ[1])", "(;SZ[19:13])", "(;SZ[x])", "(;;B)"})
        EXPECT_THROW(readSgfPosition(bytes), CommandFailure) << bytes;
}

// A node's setup is placed before its move wherever the two stand in it, and values are scanned in
// the code its root names from where it names it.
TEST(SgfReader, NodeSetsUpBeforeItsMove)
{
    const struct {
        const char *sgf;
        const char *position;
    } rows[] = {
        // Black at bb, inside the white stones, would be suicide.
        {"(;SZ[5];B[bb]AW[ab][ba][cb]AW[bc])", ".O.../O.O../.O.../...../...../"},
        {"(;SZ[5]B[aa]C[\x83]CA[Shift_JIS]C[\x83\\]AB[bb])", "X..../.X.../...../...../...../"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(positionOf(readSgfPosition(row.sgf)), row.position) << row.sgf;
}
