// The Go board: captures, and the three illegal moves (occupied point, suicide, ko retake) told apart.
#include "board.h"
#include "game.h"
#include "sgfreader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace quillarn;

namespace {

// A position as rows of ".", "X" (Black) and "O" (White), top row first, separated by "/".
void setUp(Board &board, const std::string &position)
{
    int x = 0;
    int y = 0;
    for (const char c : position) {
        if (c == '/') {
            ++y;
            x = 0;
            continue;
        }
        board.setStone(x++, y, c == 'X' ? Stone::Black : c == 'O' ? Stone::White : Stone::None);
    }
}

std::string positionOf(const Board &board)
{
    std::string position;
    for (int y = 0; y < board.size(); ++y) {
        if (y > 0)
            position += '/';
        for (int x = 0; x < board.size(); ++x) {
            const Stone s = board.at(x, y);
            position += s == Stone::Black ? 'X' : s == Stone::White ? 'O' : '.';
        }
    }
    return position;
}

const char *nameOf(MoveVerdict verdict)
{
    switch (verdict) {
    case MoveVerdict::Legal:
        return "legal";
    case MoveVerdict::Occupied:
        return "occupied";
    case MoveVerdict::Suicide:
        return "suicide";
    case MoveVerdict::KoRetake:
        return "ko retake";
    }
    return "?";
}

} // namespace

TEST(Board, CapturesAndIllegalMovesAreToldApart)
{
    struct Row {
        const char *what;
        const char *position; // before the moves
        const char *moves;    // "W bb - B cb" ("-" passes); the verdicts of all but the last must be legal
        const char *verdict;  // of the last move
        const char *after;
    };
    const Row rows[] = {
        {"a stone in the open", "...../...../...../...../.....", "B cc", "legal",
         "...../...../..X../...../....."},
        {"on a stone", "...../...../..O../...../.....", "B cc", "occupied", "...../...../..O../...../....."},
        {"one stone taken", ".X.../XO.../.X.../...../.....", "B cb", "legal",
         ".X.../X.X../.X.../...../....."},
        {"corner stone taken", "OX.../...../...../...../.....", "B ab", "legal",
         ".X.../X..../...../...../....."},
        {"a group taken", "XOO../.XX../...../...../.....", "B da", "legal", "X..X./.XX../...../...../....."},
        {"two groups taken at once", ".OX../OX.../X..../...../.....", "B aa", "legal",
         "X.X../.X.../X..../...../....."},
        {"suicide of one stone", ".O.../O..../...../...../.....", "B aa", "suicide",
         ".O.../O..../...../...../....."},
        {"suicide of a group", "XX.O./OOOO./...../...../.....", "B ca", "suicide",
         "XX.O./OOOO./...../...../....."},
        {"a capture is not suicide", ".XO../XO.../O..../...../.....", "W aa", "legal",
         "O.O../.O.../O..../...../....."},
        {"ko: retaking at once", ".XO../X.XO./.XO../...../.....", "W bb B cb", "ko retake",
         ".XO../XO.O./.XO../...../....."},
        {"ko: retaking after a move elsewhere", ".XO../X.XO./.XO../...../.....", "W bb B ee W ed B cb",
         "legal", ".XO../X.XO./.XO../....O/....X"},
        {"ko: retaking after two passes", ".XO../X.XO./.XO../...../.....", "W bb - - B cb", "legal",
         ".XO../X.XO./.XO../...../....."},
        {"a capture that leaves two liberties makes no ko", "OX.../.O.../...../...../.....", "B ab W aa",
         "suicide", ".X.../XO.../...../...../....."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Board board(5);
        setUp(board, row.position);
        std::istringstream moves(row.moves);
        std::string colour;
        std::string verdict;
        while (moves >> colour) {
            if (!verdict.empty()) {
                ASSERT_EQ(verdict, "legal");
            }
            if (colour == "-") {
                board.pass();
                verdict = "legal";
                continue;
            }
            std::string point;
            moves >> point;
            verdict = nameOf(
                board.play(colour == "B" ? Stone::Black : Stone::White, point[0] - 'a', point[1] - 'a'));
        }
        EXPECT_EQ(verdict, row.verdict);
        EXPECT_EQ(positionOf(board), row.after);
    }
}

TEST(Board, SizesFromTwoToTwentyFive)
{
    EXPECT_THROW(Board(1), std::invalid_argument);
    EXPECT_THROW(Board(26), std::invalid_argument);
    Board small(2);
    EXPECT_EQ(small.play(Stone::Black, 0, 0), MoveVerdict::Legal);
    EXPECT_EQ(small.play(Stone::White, 1, 1), MoveVerdict::Legal);
    EXPECT_EQ(small.play(Stone::Black, 1, 0), MoveVerdict::Legal);
    EXPECT_EQ(small.play(Stone::White, 0, 1), MoveVerdict::Legal); // takes both black stones
    EXPECT_EQ(positionOf(small), "../OO");
    EXPECT_EQ(small.captures(Stone::White), 2);
    EXPECT_EQ(small.captures(Stone::Black), 0);
    Board large(25);
    EXPECT_EQ(large.play(Stone::Black, 24, 24), MoveVerdict::Legal);
    EXPECT_EQ(large.at(24, 24), Stone::Black);
    EXPECT_EQ(large.at(25, 24), Stone::None);
    EXPECT_EQ(pointCoordinate(u'y'), 24);
    EXPECT_EQ(pointCoordinate(u'z'), -1);
}

// The handicap stones a record gets and what its replay reports, from SZ, HA and its move nodes. The
// board it ends on is the one an SGF reader replays from the same nodes (refused moves leave it as it
// was), and the one its kept moves give again.
TEST(GameCheck, HandicapStonesAndTheFirstRefusedMove)
{
    struct Row {
        const char16_t *size;
        const char16_t *handicap;
        const char *moves; // "W qd B dd": colour and point letters of each move node
        const char *stones;
        const char *warnings; // joined by " | "
    };
    const Row rows[] = {
        {u"19", u"0", "B pd W dp", "", ""},
        {u"19", u"2", "W qc", "AB[pd][dp]", ""},
        {u"19", u"3", "", "AB[pd][dp][pp]", ""},
        {u"19", u"5", "W cc", "AB[pd][dp][pp][dd][jj]", ""},
        {u"19", u"9", "W qc", "AB[pd][dp][pp][dd][dj][pj][jd][jp][jj]", ""},
        {u"13", u"6", "W cc", "AB[jd][dj][jj][dd][dg][jg]", ""},
        {u"13", u"7", "W cc", "AB[jd][dj][jj][dd][dg][jg][gg]", ""},
        {u"9", u"8", "W aa", "AB[gc][cg][gg][cc][ce][ge][ec][eg]", ""},
        {u"9", u"4", "W ee", "AB[gc][cg][gg][cc]", ""},
        {u"19", u"4", "W qc B pd", "",
         "handicap 4: move 2 (B pd) lands on a handicap stone: no handicap stones (AB) written"},
        {u"19", u"2", "B pd W dp", "",
         "handicap 2 but White does not move first: no handicap stones (AB) written"},
        {u"19", u"10", "W qd", "",
         "handicap 10 on a board of size 19 has no standard placement: no handicap stones (AB) written"},
        {u"15", u"3", "", "",
         "handicap 3 on a board of size 15 has no standard placement: no handicap stones (AB) written"},
        {u"19", u"0", "B pd W qd B pd W dd", "", "move 3 (B pd) is on an occupied point"},
        {u"19", u"0", "B ab W tt B ba W aa", "", "move 4 (W aa) is suicide"},
        {u"19", u"0", "B ss W ts B tt", "", "move 2 (W ts) is off the board"},
        {u"21", u"0", "B tt W tt", "", "move 2 (W tt) is on an occupied point"},
        {u"19", u"0", "B qd X pd", "", "move 2 (X pd) is neither Black's nor White's"},
        {u"19", u"0", "B ba W ca B ab W db B bc W cc B cb W bb B cb", "", "move 9 (B cb) retakes a ko"},
        {u"19x", u"0", "B pd", "",
         "board size 19x is not a number from 2 to 25: the moves were not replayed"},
        {u"19", u"2", "W pd B pe", "",
         "handicap 2: move 1 (W pd) lands on a handicap stone: no handicap stones (AB) written"},
        // An empty value ("-" here) passes on every board; on 21 lines "tt" is a point.
        {u"21", u"0", "B tt W - B tt", "", "move 3 (B tt) is on an occupied point"},
        {u"9", u"0", "X -", "", "move 1 (X pass) is neither Black's nor White's"},
        // Two NUL characters ("nul" here) are letters that name no point, not the empty value.
        {u"19", u"0", "B nul W -", "", "move 1 (B ?\?) is off the board"},
        // A handicap that is not a number, or one beyond the placements, puts no stones; empty is none.
        {u"19", u"-1", "W qd", "", "handicap \"-1\" is not a number: no handicap stones (AB) written"},
        {u"19", u" 4", "", "", "handicap \" 4\" is not a number: no handicap stones (AB) written"},
        {u"19", u"x", "B pd", "", "handicap \"x\" is not a number: no handicap stones (AB) written"},
        {u"19", u"099999", "W qd", "",
         "handicap 99999 on a board of size 19 has no standard placement: no handicap stones (AB) written"},
        {u"19", u"", "B pd", "", ""},
        {u"19", u"1", "B pd", "", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.moves) + " with handicap " + std::to_string(row.handicap[0]));
        GameCheck game(row.size, row.handicap, GameDetail::Moves);
        std::istringstream moves(row.moves);
        std::string colour;
        std::string point;
        std::string sgf = "(;SZ[";
        for (const char16_t *c = row.size; *c != 0; ++c)
            sgf += static_cast<char>(*c);
        sgf += "]" + std::string(row.stones);
        while (moves >> colour >> point) {
            point = point == "-" ? "" : point == "nul" ? std::string(2, '\0') : point;
            game.move(colour[0], std::u16string(point.begin(), point.end()));
            sgf += ";" + colour + "[" + point + "]";
        }
        const GameReport report = game.finish();
        std::string warnings;
        for (const Reason &warning : report.warnings)
            warnings += (warnings.empty() ? "" : " | ") + warning.english();
        EXPECT_EQ(report.handicapStones, row.stones);
        EXPECT_EQ(warnings, row.warnings);
        const GamePosition &position = report.position;
        ASSERT_EQ(position.board.has_value(), position.size != 0);
        if (position.board) {
            const std::string reached = positionOf(*position.board);
            EXPECT_EQ(reached, positionOf(readSgfPosition(sgf + ")")));
            EXPECT_EQ(reached, positionOf(boardAfter(position, position.moves.size())));
        }
    }
}
