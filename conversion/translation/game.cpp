// The handicap stones and the replay of game.h.
#include "game.h"

#include "commandfailure.h"
#include "text.h"
#include "utf8codec.h"

#include <algorithm>

namespace quillarn {

namespace {

// Returns the whole number that text spells in decimal digits, 9999 for any larger one (beyond any
// board or handicap), or -1 when it is not one.
int numberIn(std::u16string_view text)
{
    if (text.empty())
        return -1;
    int number = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9')
            return -1;
        number = std::min(number * 10 + (c - u'0'), 9999);
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

// Appends c to a warning: as it is, or "?" for a control character or half a character, which a
// message must not carry.
void appendShown(std::string &out, char16_t c)
{
    if (c < 0x20 || c == 0x7F || isHighSurrogate(c) || isLowSurrogate(c))
        out += '?';
    else
        appendUtf8(out, c);
}

// "move 66 (B po)", as the move node reads; "move 67 (W pass)" for an empty value.
Reason moveName(int number, char16_t colour, std::u16string_view point)
{
    std::string shownColour;
    appendShown(shownColour, colour);
    if (point.empty())
        return Reason(Said::PassName, {std::to_string(number), shownColour});
    std::string shownPoint;
    for (const char16_t c : point)
        appendShown(shownPoint, c);
    return Reason(Said::MoveName, {std::to_string(number), shownColour, shownPoint});
}

std::string utf8(std::u16string_view text)
{
    std::string out;
    for (const char16_t c : text)
        appendShown(out, c);
    return out;
}

// The start of a value as a warning shows it: a value of thousands of characters would fill the
// terminal.
std::string shortened(std::u16string_view text)
{
    constexpr std::size_t shown = 24;
    return text.size() <= shown ? utf8(text) : utf8(text.substr(0, shown)) + "...";
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
ReplayedMove replayedMove(char16_t colour, std::u16string_view point, int size)
{
    const Stone stone = colour == u'B' ? Stone::Black : colour == u'W' ? Stone::White : Stone::None;
    // A point of other than two letters, and a letter that names no point, is put beyond every
    // board, never at the pass's -1.
    constexpr auto beyond = static_cast<std::int8_t>(Board::maxSize);
    if (point.size() != 2)
        return point.empty() ? ReplayedMove{stone, -1, -1} : ReplayedMove{stone, beyond, beyond};
    if (point[0] == u't' && point[1] == u't' && size <= 19)
        return {stone, -1, -1};
    const auto coordinate = [](char16_t letter) {
        const int at = pointCoordinate(letter);
        return at < 0 ? beyond : static_cast<std::int8_t>(at);
    };
    return {stone, coordinate(point[0]), coordinate(point[1])};
}

} // namespace

Board boardAfter(const GamePosition &position, std::size_t moves)
{
    if (position.size == 0)
        throw CommandFailure(Said::SizeNotReplayed);
    Board board(position.size);
    for (const auto &[x, y] : position.handicapStones)
        board.setStone(x, y, Stone::Black);
    for (std::size_t i = 0; i < moves && i < position.moves.size(); ++i)
        play(board, position.moves[i]);
    return board;
}

void GameCheck::Replay::refuse(Reason warning, int x, int y)
{
    if (!refusal.empty())
        return;
    refusal = std::move(warning);
    refusedX = x;
    refusedY = y;
    // The warnings need no more than this move: the rest of the game costs a replay only when its
    // board is wanted.
    if (!wholeGame)
        board.reset();
}

void GameCheck::Replay::play(int number, char16_t colour, std::u16string_view point, int size)
{
    if (!board)
        return;
    const ReplayedMove move = replayedMove(colour, point, size);
    switch (quillarn::play(*board, move)) {
    case Played::Stone:
    case Played::Pass:
        return;
    case Played::NoColour:
        return refuse(Reason(Said::NeitherColour, {moveName(number, colour, point)}));
    case Played::OffBoard:
        return refuse(Reason(Said::OffTheBoard, {moveName(number, colour, point)}));
    case Played::Occupied:
        return refuse(Reason(Said::OnAStone, {moveName(number, colour, point)}), move.x, move.y);
    case Played::Suicide:
        return refuse(Reason(Said::Suicide, {moveName(number, colour, point)}));
    case Played::KoRetake:
        return refuse(Reason(Said::KoRetaken, {moveName(number, colour, point)}));
    }
}

GameCheck::GameCheck(std::u16string_view size, std::u16string_view handicap, GameDetail detail)
    : handicapText_(handicap), sizeText_(size), detail_(detail)
{
    withStones_.wholeGame = withoutStones_.wholeGame = detail != GameDetail::None;
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

void GameCheck::move(char16_t colour, std::u16string_view point)
{
    if (++moves_ == 1) {
        firstColour_ = colour;
        if (colour != u'W')
            withStones_.board.reset(); // the stones are placed only before White's first move
    }
    withStones_.play(moves_, colour, point, size_);
    withoutStones_.play(moves_, colour, point, size_);
    if (detail_ == GameDetail::Moves && size_ != 0)
        kept_.push_back(replayedMove(colour, point, size_));
}

GameReport GameCheck::finish()
{
    GameReport report;
    // The number as written, without leading zeros (handicap_ stops at 9999).
    const std::u16string_view digits =
        std::u16string_view(handicapText_)
            .substr(std::min(handicapText_.find_first_not_of(u'0'), handicapText_.size()));
    const std::string handicap = shortened(digits);
    Replay *replay = &withoutStones_;
    if (!handicapText_.empty() && numberIn(handicapText_) < 0) {
        report.warnings.emplace_back(Said::HandicapNotANumber, std::vector<Reason>{shortened(handicapText_)});
    } else if (handicap_ >= 2 && handicapPoints_.empty()) {
        report.warnings.emplace_back(Said::HandicapWithoutPlacement,
                                     std::vector<Reason>{handicap, utf8(sizeText_)});
    } else if (handicap_ >= 2 && moves_ > 0 && firstColour_ != u'W') {
        report.warnings.emplace_back(Said::HandicapWhiteNotFirst, std::vector<Reason>{handicap});
    } else if (!handicapPoints_.empty()) {
        bool onAStone = false;
        for (const auto &[x, y] : handicapPoints_)
            onAStone = onAStone || (x == withStones_.refusedX && y == withStones_.refusedY);
        if (onAStone) {
            // The refused move's name, the first value of its warning.
            report.warnings.emplace_back(Said::HandicapOnAStone,
                                         std::vector<Reason>{handicap, withStones_.refusal.values().front()});
        } else {
            report.handicapStones = handicapStones_;
            report.position.handicapStones = handicapPoints_;
            replay = &withStones_;
        }
    }
    if (moves_ > 0 && size_ == 0)
        report.warnings.emplace_back(Said::BoardSizeNotReplayed, std::vector<Reason>{utf8(sizeText_)});
    else if (!replay->refusal.empty())
        report.warnings.push_back(replay->refusal);
    report.position.size = size_;
    report.position.moves = std::move(kept_);
    if (detail_ != GameDetail::None)
        report.position.board = std::move(replay->board);
    return report;
}

} // namespace quillarn
