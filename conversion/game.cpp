// The handicap stones and the replay of game.h.
#include "game.h"

#include "commandfailure.h"

#include <algorithm>

namespace quillarn {

namespace {

// Returns the whole number that text spells in decimal digits, or -1 when it is not one (or is
// beyond any board or handicap).
int numberIn(std::u16string_view text)
{
    if (text.empty() || text.size() > 4)
        return -1;
    int number = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9')
            return -1;
        number = number * 10 + (c - u'0');
    }
    return number;
}

// Returns the handicap stones of the Japanese placement for handicap on a 9, 13 or 19 board: the
// first two on the diagonal (upper right, lower left), the third lower right, the fourth upper left;
// five adds the centre; six takes the left and right side points instead; seven adds the centre;
// eight takes the top and bottom side points; nine adds the centre. Empty for any other handicap or
// size. Star points stand on the fourth line of 13 and 19 boards and on the third line of a 9 board.
std::vector<std::pair<int, int>> handicapPlacement(int handicap, int size)
{
    if (handicap < 2 || handicap > 9 || (size != 9 && size != 13 && size != 19))
        return {};
    const int near = size == 9 ? 2 : 3;
    const int far = size - 1 - near;
    const int mid = size / 2;
    std::vector<std::pair<int, int>> points = {{far, near}, {near, far}, {far, far}, {near, near}};
    points.resize(static_cast<std::size_t>(handicap < 4 ? handicap : 4));
    if (handicap >= 6)
        points.insert(points.end(), {{near, mid}, {far, mid}});
    if (handicap >= 8)
        points.insert(points.end(), {{mid, near}, {mid, far}});
    if (handicap % 2 == 1 && handicap >= 5)
        points.emplace_back(mid, mid);
    return points;
}

void appendUtf8(std::string &out, char16_t c)
{
    if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF)) {
        out += '?'; // a message must not carry control characters or half a character
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// "move 66 (B po)", as the move node reads.
std::string moveName(int number, char16_t colour, char16_t x, char16_t y)
{
    std::string name = "move " + std::to_string(number) + " (";
    appendUtf8(name, colour);
    name += ' ';
    appendUtf8(name, x);
    appendUtf8(name, y);
    return name + ")";
}

std::string utf8(std::u16string_view text)
{
    std::string out;
    for (const char16_t c : text)
        appendUtf8(out, c);
    return out;
}

// What playing a move did to a board.
enum class Played { Stone, Pass, NoColour, OffBoard, Occupied, Suicide, KoRetake };

// Plays move on board: a stone, a pass, or nothing when the board refuses it (then the board is as
// it was).
Played play(Board &board, const ReplayedMove &move)
{
    if (move.colour == Stone::None)
        return Played::NoColour;
    if (move.x == -1 && move.y == -1) {
        board.pass();
        return Played::Pass;
    }
    if (!board.contains(move.x, move.y))
        return Played::OffBoard;
    switch (board.play(move.colour, move.x, move.y)) {
    case MoveVerdict::Legal:
        return Played::Stone;
    case MoveVerdict::Occupied:
        return Played::Occupied;
    case MoveVerdict::Suicide:
        return Played::Suicide;
    case MoveVerdict::KoRetake:
        return Played::KoRetake;
    }
    return Played::Stone;
}

// Returns a move node's colour and point as the replay takes them: "tt" is a pass on boards of up
// to 19 lines, and an empty point a pass on any.
ReplayedMove replayedMove(char16_t colour, char16_t x, char16_t y, int size)
{
    const Stone stone = colour == u'B' ? Stone::Black : colour == u'W' ? Stone::White : Stone::None;
    if ((x == u't' && y == u't' && size <= 19) || (x == 0 && y == 0))
        return {stone, -1, -1};
    // A letter that names no point is put beyond every board, never at the pass's -1.
    const auto coordinate = [](char16_t letter) {
        const int at = pointCoordinate(letter);
        return static_cast<std::int8_t>(at < 0 ? Board::maxSize : at);
    };
    return {stone, coordinate(x), coordinate(y)};
}

} // namespace

Board boardAfter(const GamePosition &position, std::size_t moves)
{
    if (position.size == 0)
        throw CommandFailure("the board size is not a number from 2 to 25: the moves were not replayed");
    Board board(position.size);
    for (const auto &[x, y] : position.handicapStones)
        board.setStone(x, y, Stone::Black);
    for (std::size_t i = 0; i < moves && i < position.moves.size(); ++i)
        play(board, position.moves[i]);
    return board;
}

void GameCheck::Replay::refuse(std::string warning, int x, int y)
{
    if (!refusal.empty())
        return;
    refusal = std::move(warning);
    refusedX = x;
    refusedY = y;
}

void GameCheck::Replay::play(int number, char16_t colour, char16_t x, char16_t y, int size)
{
    if (!board)
        return;
    const ReplayedMove move = replayedMove(colour, x, y, size);
    switch (quillarn::play(*board, move)) {
    case Played::Stone:
    case Played::Pass:
        return;
    case Played::NoColour:
        return refuse(moveName(number, colour, x, y) + " is neither Black's nor White's");
    case Played::OffBoard:
        return refuse(moveName(number, colour, x, y) + " is off the board");
    case Played::Occupied:
        return refuse(moveName(number, colour, x, y) + " is on an occupied point", move.x, move.y);
    case Played::Suicide:
        return refuse(moveName(number, colour, x, y) + " is suicide");
    case Played::KoRetake:
        return refuse(moveName(number, colour, x, y) + " retakes a ko");
    }
}

GameCheck::GameCheck(std::u16string_view size, std::u16string_view handicap, bool keepMoves)
    : sizeText_(size), keepMoves_(keepMoves)
{
    const int lines = numberIn(size);
    size_ = lines >= Board::minSize && lines <= Board::maxSize ? lines : 0;
    handicap_ = std::max(numberIn(handicap), 0);
    if (size_ == 0)
        return;
    withoutStones_.board.emplace(size_);
    handicapPoints_ = handicapPlacement(handicap_, size_);
    if (handicapPoints_.empty())
        return;
    withStones_.board.emplace(size_);
    handicapStones_ = "AB";
    for (const auto &[x, y] : handicapPoints_) {
        withStones_.board->setStone(x, y, Stone::Black);
        handicapStones_ += {'[', static_cast<char>('a' + x), static_cast<char>('a' + y), ']'};
    }
}

void GameCheck::move(char16_t colour, char16_t x, char16_t y)
{
    if (++moves_ == 1) {
        firstColour_ = colour;
        if (colour != u'W')
            withStones_.board.reset(); // the stones are placed only before White's first move
    }
    withStones_.play(moves_, colour, x, y, size_);
    withoutStones_.play(moves_, colour, x, y, size_);
    if (keepMoves_ && size_ != 0)
        kept_.push_back(replayedMove(colour, x, y, size_));
}

GameReport GameCheck::finish()
{
    GameReport report;
    const std::string handicap = "handicap " + std::to_string(handicap_);
    const char *const noStones = ": no handicap stones (AB) written";
    Replay *replay = &withoutStones_;
    if (handicap_ >= 2 && handicapPoints_.empty()) {
        report.warnings.push_back(handicap + " on a board of size " + utf8(sizeText_) +
                                  " has no standard placement" + noStones);
    } else if (handicap_ >= 2 && moves_ > 0 && firstColour_ != u'W') {
        report.warnings.push_back(handicap + " but White does not move first" + noStones);
    } else if (!handicapPoints_.empty()) {
        bool onAStone = false;
        for (const auto &[x, y] : handicapPoints_)
            onAStone = onAStone || (x == withStones_.refusedX && y == withStones_.refusedY);
        if (onAStone) {
            report.warnings.push_back(handicap + ": " +
                                      withStones_.refusal.substr(0, withStones_.refusal.find(')') + 1) +
                                      " lands on a handicap stone" + noStones);
        } else {
            report.handicapStones = handicapStones_;
            report.position.handicapStones = handicapPoints_;
            replay = &withStones_;
        }
    }
    if (moves_ > 0 && size_ == 0)
        report.warnings.push_back("board size " + utf8(sizeText_) +
                                  " is not a number from 2 to 25: the moves were not replayed");
    else if (!replay->refusal.empty())
        report.warnings.push_back(replay->refusal);
    report.position.size = size_;
    report.position.moves = std::move(kept_);
    report.position.board = std::move(replay->board);
    return report;
}

} // namespace quillarn
