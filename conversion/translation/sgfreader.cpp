// The SGF position reader of sgfreader.h.
#include "sgfreader.h"

#include "commandfailure.h"
#include "recordfile.h"
#include "text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>

namespace quillarn {

namespace {

// How the bytes of a value are taken: one by one, or as double-byte characters whose second byte
// may be "\" or "]".
enum class ValueCode { Bytes, Cp932, ChineseDoubleByte };

ValueCode valueCodeOf(std::string name)
{
    for (char &c : name)
        c = lowerAscii(c);
    for (const char *cp932 : {"shift_jis", "cp932", "windows-31j", "sjis"}) {
        if (name == cp932)
            return ValueCode::Cp932;
    }
    for (const char *chinese : {"gb2312", "gbk", "gb18030", "cp936", "big5", "big5-hkscs", "cp950"}) {
        if (name == chinese)
            return ValueCode::ChineseDoubleByte;
    }
    return ValueCode::Bytes;
}

bool isLeadByte(ValueCode code, unsigned char c)
{
    if (code == ValueCode::Cp932)
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    return code == ValueCode::ChineseDoubleByte && c >= 0x81 && c <= 0xFE;
}

bool isTrailByte(ValueCode code, unsigned char c)
{
    return c >= 0x40 && c != 0x7F && c <= (code == ValueCode::Cp932 ? 0xFC : 0xFE);
}

// No value that matters is longer than "aa:cc": the rest of a value is not kept.
constexpr std::size_t keptValueBytes = 16;

Reason offsetText(std::size_t offset)
{
    return Reason(Said::SgfOffset, {std::to_string(offset)});
}

// "offset 12: " before what is wrong there.
Reason atOffset(std::size_t offset, Reason reason)
{
    return Reason(Said::Joined, {offsetText(offset), std::move(reason)});
}

// Returns the board coordinates of an SGF point "aa", or nothing for any other value.
std::optional<std::pair<int, int>> pointOf(std::string_view value)
{
    if (value.size() != 2)
        return std::nullopt;
    const int x = pointCoordinate(static_cast<unsigned char>(value[0]));
    const int y = pointCoordinate(static_cast<unsigned char>(value[1]));
    if (x < 0 || y < 0)
        return std::nullopt;
    return std::make_pair(x, y);
}

int boardSizeOf(const std::string &value)
{
    const std::size_t colon = value.find(':');
    const std::string first = value.substr(0, colon);
    const bool number = !first.empty() && first.size() <= 2 &&
                        std::all_of(first.begin(), first.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int size = number ? std::stoi(first) : 0;
    const bool printable =
        std::all_of(value.begin(), value.end(), [](char c) { return c >= ' ' && c <= '~'; });
    const std::string shown = printable && value.size() <= keptValueBytes ? "SZ[" + value + "]" : "SZ";
    if (size < Board::minSize || size > Board::maxSize)
        throw CommandFailure(Reason(Said::Joined, {shown, Said::SgfSizeNot2To25}));
    if (colon != std::string::npos && value.substr(colon + 1) != first)
        throw CommandFailure(Reason(Said::Joined, {shown, Said::SgfBoardNotSquare}));
    return size;
}

// Which properties a reading of a node's bytes acts on. A main-line node is read twice: first for
// its setup, then, from its first byte again, for its moves, which are played after the setup
// wherever they stand in the node. So only the board is held, never the node's values, and a file of
// millions of values costs no more memory than one of a few.
enum class Pass { Setup, Moves };

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    Board read();

private:
    void skipSpace();
    std::size_t findGameTree() const;
    void readProperty(Pass pass);
    std::string readValue(const std::string &name, bool keep);
    void setUp(const std::string &name, const std::string &value);
    void finishNode();

    std::string_view bytes_;
    std::size_t pos_ = 0;
    ValueCode code_ = ValueCode::Bytes;
    int nodes_ = 0;              // nodes begun so far
    bool inNode_ = false;        // properties may follow
    bool mainLine_ = true;       // until the first ")": every node before it is on the main line
    std::optional<Board> board_; // made when the root node ends, of its size
    int rootSize_ = 19;
    std::optional<CommandFailure> badSize_; // the first SZ of the root that is no size

    // The main-line node being read: where its properties begin and how values were scanned there,
    // the setup read so far (each point's last AB, AW or AE: as the setup puts stones without
    // capturing, the last one given is what the point holds), and whether a move follows it.
    std::size_t nodeStart_ = 0;
    ValueCode nodeCode_ = ValueCode::Bytes;
    static constexpr int points = Board::maxSize * Board::maxSize;
    std::array<std::optional<Stone>, points> setup_{};
    bool hasSetup_ = false;
    bool hasMove_ = false;
};

void Reader::skipSpace()
{
    while (pos_ < bytes_.size() && std::isspace(static_cast<unsigned char>(bytes_[pos_])))
        ++pos_;
}

// Returns the offset of the first "(" followed by ";" (space between them allowed): text before a
// game tree, as some programs write, is not read.
std::size_t Reader::findGameTree() const
{
    for (std::size_t open = bytes_.find('('); open != std::string_view::npos;
         open = bytes_.find('(', open + 1)) {
        std::size_t next = open + 1;
        while (next < bytes_.size() && std::isspace(static_cast<unsigned char>(bytes_[next])))
            ++next;
        if (next < bytes_.size() && bytes_[next] == ';')
            return open;
    }
    throw CommandFailure(Said::NotSgf);
}

Board Reader::read()
{
    if (static_cast<unsigned long long>(bytes_.size()) > static_cast<unsigned long long>(maxSourceBytes))
        throw CommandFailure(Reason(Said::SgfTooLarge, {std::to_string(maxSourceBytes)}));
    const std::size_t start = findGameTree();
    pos_ = start;
    int depth = 0;
    for (;;) {
        skipSpace();
        if (pos_ >= bytes_.size())
            throw CommandFailure(Reason(Said::SgfTreeNotClosed, {offsetText(start)}));
        const char c = bytes_[pos_];
        if (c == '(') {
            finishNode();
            ++depth;
            ++pos_;
            skipSpace();
            if (pos_ >= bytes_.size() || bytes_[pos_] != ';')
                throw CommandFailure(atOffset(pos_, Said::SgfTreeWithoutNode));
        } else if (c == ')') {
            finishNode();
            mainLine_ = false;
            ++pos_;
            if (--depth == 0)
                break;
        } else if (c == ';') {
            finishNode();
            if (++nodes_ > maxSgfNodes)
                break;
            inNode_ = true;
            ++pos_;
            nodeStart_ = pos_;
            nodeCode_ = code_;
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            readProperty(Pass::Setup);
        } else {
            throw CommandFailure(atOffset(
                pos_, Reason(Said::SgfUnexpected, {describe(static_cast<unsigned char>(c), "byte 0x", 2)})));
        }
    }
    finishNode();
    return board_ ? *board_ : Board(19);
}

void Reader::readProperty(Pass pass)
{
    const std::size_t start = pos_;
    // The name is its upper-case letters: older files spell AB as AddBlack.
    std::string name;
    while (pos_ < bytes_.size() && std::isalpha(static_cast<unsigned char>(bytes_[pos_]))) {
        if (std::isupper(static_cast<unsigned char>(bytes_[pos_])) && name.size() < 8)
            name += bytes_[pos_];
        ++pos_;
    }
    if (!inNode_)
        throw CommandFailure(atOffset(start, Reason(Said::SgfPropertyOutsideNode, {name})));
    skipSpace();
    if (pos_ >= bytes_.size() || bytes_[pos_] != '[')
        throw CommandFailure(atOffset(start, Reason(Said::SgfPropertyWithoutValue, {name})));
    const bool move = name == "B" || name == "W";
    const bool setup = name == "AB" || name == "AW" || name == "AE";
    const bool size = name == "SZ" && !board_;
    const bool namesCode = name == "CA" && nodes_ == 1 && mainLine_;
    const bool keep = namesCode || (mainLine_ && (pass == Pass::Setup ? setup || size : move));
    if (pass == Pass::Setup && mainLine_ && move)
        hasMove_ = true;
    for (bool first = true; pos_ < bytes_.size() && bytes_[pos_] == '['; first = false) {
        const std::string value = readValue(name, keep);
        if (namesCode)
            code_ = valueCodeOf(value);
        if (keep && setup)
            setUp(name, value);
        if (keep && size && first && !badSize_) {
            // Raised once the root node is read: a fault in its syntax is told first.
            try {
                rootSize_ = boardSizeOf(value);
            } catch (const CommandFailure &failure) {
                badSize_ = failure;
            }
        }
        if (keep && move && first) {
            // The first value is the move; an empty one, and "tt" on boards up to 19, is a pass.
            Board &board = *board_;
            const auto point = pointOf(value);
            if (value.empty() || (value == "tt" && board.size() <= 19))
                board.pass();
            else if (point && board.contains(point->first, point->second))
                board.play(name == "B" ? Stone::Black : Stone::White, point->first, point->second);
        }
        skipSpace();
    }
}

// Reads the value at pos_ ("[" ... "]") and returns its first bytes, without escapes, when keep.
std::string Reader::readValue(const std::string &name, bool keep)
{
    const std::size_t start = pos_++;
    std::string value;
    bool cut = false;
    const auto add = [&](char c) {
        if (!keep)
            return;
        if (value.size() < keptValueBytes)
            value += c;
        else
            cut = true;
    };
    while (pos_ < bytes_.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes_[pos_]);
        if (c == ']') {
            ++pos_;
            // A value cut short matches nothing a point or a size can be.
            return cut ? std::string(keptValueBytes + 1, '?') : value;
        }
        if (c == '\\' && pos_ + 1 < bytes_.size()) {
            add(bytes_[pos_ + 1]);
            pos_ += 2;
        } else if (isLeadByte(code_, c) && pos_ + 1 < bytes_.size() &&
                   isTrailByte(code_, static_cast<unsigned char>(bytes_[pos_ + 1]))) {
            add(bytes_[pos_]);
            add(bytes_[pos_ + 1]);
            pos_ += 2;
        } else {
            add(bytes_[pos_]);
            ++pos_;
        }
    }
    throw CommandFailure(atOffset(start, Reason(Said::SgfValueNotClosed, {name})));
}

// Notes an AB, AW or AE value: a point, or a rectangle "aa:cc" given by two of its corners.
void Reader::setUp(const std::string &name, const std::string &value)
{
    const Stone stone = name == "AB" ? Stone::Black : name == "AW" ? Stone::White : Stone::None;
    const std::size_t colon = value.find(':');
    const auto from = pointOf(std::string_view(value).substr(0, colon));
    const auto to = colon == std::string::npos ? from : pointOf(std::string_view(value).substr(colon + 1));
    if (!from || !to)
        return;
    for (int y = std::min(from->second, to->second); y <= std::max(from->second, to->second); ++y) {
        for (int x = std::min(from->first, to->first); x <= std::max(from->first, to->first); ++x)
            setup_[static_cast<std::size_t>(y * Board::maxSize + x)] = stone;
    }
    hasSetup_ = true;
}

// Puts the main-line node just read on the board: its setup, then its moves, read again from the
// node's first property.
void Reader::finishNode()
{
    if (!inNode_)
        return;
    inNode_ = false;
    if (!mainLine_)
        return;
    if (badSize_)
        throw *badSize_;
    if (!board_)
        board_.emplace(rootSize_);
    if (hasSetup_) {
        for (int point = 0; point < points; ++point) {
            if (setup_[static_cast<std::size_t>(point)])
                board_->setStone(point % Board::maxSize, point / Board::maxSize,
                                 *setup_[static_cast<std::size_t>(point)]);
        }
        setup_.fill(std::nullopt);
        hasSetup_ = false;
    }
    if (!hasMove_)
        return;
    hasMove_ = false;
    const std::size_t end = pos_;
    const ValueCode code = code_;
    pos_ = nodeStart_;
    code_ = nodeCode_;
    inNode_ = true;
    for (skipSpace(); pos_ < end; skipSpace())
        readProperty(Pass::Moves);
    inNode_ = false;
    pos_ = end;
    code_ = code;
}

} // namespace

Board readSgfPosition(std::string_view bytes)
{
    return Reader(bytes).read();
}

} // namespace quillarn
