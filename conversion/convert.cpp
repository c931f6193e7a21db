// The conversion of convert.h, done on the source's bytes. The markers and header keys are found in
// the bytes, and only the header keys' lines are decoded for the translation of the root node. A
// data line whose move is plain ASCII is translated straight from its bytes; any other line (other
// bytes, a comma too far out, anything that fails) goes through the translation of its decoded
// text, which defines every result and every reason. The data is read twice: the first pass checks
// all that can fail and replays the moves, the second writes, so that a sink receives nothing for a
// record that fails and no copy of the whole record is ever held.
#include "convert.h"

#include "codepage.h"
#include "game.h"
#include "sourcekind.h"
#include "translation.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>

namespace quillarn {

namespace {

constexpr std::size_t none = std::string_view::npos;

// The bytes of a source, without a UTF-8 byte-order mark, and how they decode.
class SourceBytes {
public:
    SourceBytes() = default;
    SourceBytes(std::string_view bytes, bool utf8) : bytes_(bytes), utf8_(utf8) {}

    std::string_view bytes() const { return bytes_; }

    // Returns the text of span, which starts and ends at character boundaries.
    std::u16string decode(std::string_view span) const { return utf8_ ? decodeUtf8(span) : decodeAnsi(span); }

    // Returns the offset of the first occurrence of needle (ASCII) at or after from (where a
    // character starts) that starts a character; none when there is none.
    std::size_t find(std::string_view needle, std::size_t from) const
    {
        std::size_t known = from; // a character starts here, at or before every hit still to come
        for (std::size_t at = bytes_.find(needle, from); at != none; at = bytes_.find(needle, at + 1)) {
            // In UTF-8 an ASCII byte is always a character of its own.
            if (utf8_ || startsCharacter(at, known))
                return at;
        }
        return none;
    }

private:
    // Returns true when a code page 932 character starts at at, reading forward from known (a
    // character start at or before at), which it moves up to at or just past it.
    bool startsCharacter(std::size_t at, std::size_t &known) const
    {
        // An ASCII byte is a character or the second byte of one: the byte after it starts one.
        for (std::size_t back = at; back > known; --back) {
            if (static_cast<unsigned char>(bytes_[back - 1]) < 0x80) {
                known = back;
                break;
            }
        }
        while (known < at) {
            const bool pair = known + 1 < bytes_.size() &&
                              isDoubleByteCharacter(static_cast<unsigned char>(bytes_[known]),
                                                    static_cast<unsigned char>(bytes_[known + 1]));
            known += pair ? 2 : 1;
        }
        return known == at;
    }

    std::string_view bytes_;
    bool utf8_ = false;
};

// The header keys' lines, found in the bytes and decoded one at a time.
class ByteHeaderLines : public HeaderLines {
public:
    explicit ByteHeaderLines(const SourceBytes &source) : source_(source), marker_(source.find("[Header]", 0))
    {
    }

    bool hasHeader() override { return marker_ != none; }
    bool hasCrLf() override { return source_.bytes().find("\r\n") != none; }

    bool find(std::u16string_view key, std::u16string_view &line, bool &ended) override
    {
        std::string ascii; // every key is ASCII
        for (const char16_t c : key)
            ascii += static_cast<char>(c);
        const std::size_t at = source_.find(ascii, marker_);
        if (at == none)
            return false;
        // CR and LF are characters of their own in both encodings.
        const std::size_t end = source_.bytes().find("\r\n", at);
        ended = end != none;
        lines_.push_back(source_.decode(source_.bytes().substr(at, ended ? end - at : none)));
        line = lines_.back();
        return true;
    }

private:
    const SourceBytes &source_;
    std::size_t marker_;
    std::deque<std::u16string> lines_; // the lines handed out, which the views point into
};

// Returns the offset of the first CR or LF in text at or after from, none when there is none. Reads
// eight bytes at a time: data lines are short, and this runs over every byte of the data twice.
std::size_t findLineEnd(std::string_view text, std::size_t from)
{
    std::size_t at = from;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, sizeof word);
        const std::uint64_t lf = word ^ (ones * '\n');
        const std::uint64_t cr = word ^ (ones * '\r');
        // A zero byte in lf or cr is a line end; the lowest flagged byte is always a true one.
        const std::uint64_t found = (((lf - ones) & ~lf) | ((cr - ones) & ~cr)) & highs;
        if (found != 0)
            return at + static_cast<std::size_t>(__builtin_ctzll(found) / 8);
    }
#endif
    for (; at < text.size(); ++at) {
        if (text[at] == '\n' || text[at] == '\r')
            return at;
    }
    return none;
}

// Calls onLine(line, number) for each line of the data section that starts at data, in order,
// the line without its line end, numbered from firstLine. The section ends at the end of the
// source or before a line that starts with "["; every line before its last ends in CR LF, and a
// lone CR or LF raises CommandFailure (failLoneLineEnd).
template <typename OnLine> void forEachDataLine(std::string_view data, Int32 firstLine, OnLine &&onLine)
{
    Int32 number = firstLine;
    for (std::size_t start = 0;;) {
        if (start < data.size() && data[start] == '[')
            return;
        const std::size_t end = findLineEnd(data, start);
        if (end == none) {
            onLine(data.substr(start), number);
            return;
        }
        if (data[end] != '\r' || end + 1 == data.size() || data[end + 1] != '\n')
            failLoneLineEnd(number, static_cast<char16_t>(data[end]));
        onLine(data.substr(start, end - start), number);
        start = end + 2;
        number = add32(number, 1);
    }
}

// A move read straight from a data line's bytes.
struct AsciiMove {
    char colour;
    char x;
    char y;
};

enum class LineKind {
    NoMove, // no comma: not a move
    Move,   // a move whose characters up to its colour are ASCII, read into the AsciiMove
    Other,  // anything else, left to the translation of the decoded line
};

// Reads the move of a data line when its characters up to the colour are ASCII and it is well
// formed: the comma at position 3 to 32766, a colour A-Z after it. The coordinate is lower-cased
// and "ys" made the pass "tt", as the translation of the decoded line does.
LineKind readAsciiMove(std::string_view line, AsciiMove &move)
{
    std::size_t comma = 0;
    for (; comma < line.size() && line[comma] != ','; ++comma) {
        if (static_cast<unsigned char>(line[comma]) >= 0x80)
            return LineKind::Other;
    }
    if (comma == line.size())
        return LineKind::NoMove;
    if (comma < 2 || comma >= 32766 || comma + 1 == line.size() || line[comma + 1] < 'A' ||
        line[comma + 1] > 'Z')
        return LineKind::Other;
    move.colour = line[comma + 1];
    move.x = lowerAscii(line[comma - 2]);
    move.y = lowerAscii(line[comma - 1]);
    if (move.x == 'y' && move.y == 's')
        move.x = move.y = 't';
    return LineKind::Move;
}

// Gives the move of a node's text (";B[qd]", escapes as the translation writes them) to game.
void replayNode(GameCheck &game, std::u16string_view node)
{
    std::u16string point;
    for (std::size_t at = 3; at + 1 < node.size(); ++at) {
        if (node[at] == u'\\')
            ++at;
        point += node[at];
    }
    game.move(node[1], point.size() > 0 ? point[0] : 0, point.size() > 1 ? point[1] : 0);
}

void appendEncoded(std::string &out, std::u16string_view text, RecordEncoding encoding)
{
    if (encoding == RecordEncoding::Ansi)
        appendAnsi(out, text);
    else
        out += encodeUtf8(text);
}

// A record whose source has been checked: everything but its move nodes, which are written from
// the source's data lines again.
struct CheckedRecord {
    SourceBytes source;
    std::string head;      // "(;CA[...]" + the root's properties + the handicap stones
    bool hasData = false;  // whether the source holds "[Data]"
    std::string_view data; // the data section, from just after "[Data]"
    Int32 firstLine = 1;   // the number of the data section's first line
    std::vector<std::string> warnings;
    GamePosition position;
};

// Reads the source and chooses how to decode it. Raises CommandFailure for bytes that are not
// UTF-8 where they must be.
SourceBytes readSource(std::string_view bytes, SourceEncoding encoding)
{
    if (encoding == SourceEncoding::Cp932)
        return {bytes, false};
    constexpr std::string_view mark = "\xEF\xBB\xBF";
    const bool marked = bytes.substr(0, mark.size()) == mark;
    if (encoding == SourceEncoding::Auto && !marked) {
        const Utf8Shape shape = utf8Shape(bytes);
        return {bytes, shape.valid && shape.longCharacters};
    }
    const std::string_view text = marked ? bytes.substr(mark.size()) : bytes;
    if (!utf8Shape(text).valid)
        decodeSource(bytes, encoding); // raises with the reason that names the bytes
    return {text, true};
}

// The first pass: translates and checks everything, replays the moves, encodes all but the move
// nodes. Raises CommandFailure as the translation of the decoded source and its encoding would:
// the translation's reasons first (notARecordReason where it says more), then the encoding's, in
// the order of the record.
CheckedRecord checkRecord(std::string_view bytes, const ConversionOptions &options)
{
    CheckedRecord record;
    RootNode root;
    std::optional<GameCheck> game;
    std::optional<CommandFailure> unwritable; // the first move node that cannot be encoded
    bool extensions = false;                  // whether a node holds code page 932's own characters
    try {
        record.source = readSource(bytes, options.source);
        const SourceBytes &source = record.source;
        ByteHeaderLines lines(source);
        root = translateRoot(lines);
        game.emplace(root.size, root.handicap, options.keepMoves);
        const std::size_t marker = source.find("[Data]", 0);
        record.hasData = marker != none;
        if (record.hasData) {
            record.data = source.bytes().substr(marker + 6);
            for (std::size_t at = 0; (at = source.bytes().find("\r\n", at)) < marker; at += 2)
                record.firstLine = add32(record.firstLine, 1);
            std::u16string node;
            std::string encoded;
            forEachDataLine(record.data, record.firstLine, [&](std::string_view line, Int32 number) {
                AsciiMove move;
                const LineKind kind = readAsciiMove(line, move);
                if (kind == LineKind::Move)
                    game->move(static_cast<char16_t>(move.colour), static_cast<char16_t>(move.x),
                               static_cast<char16_t>(move.y));
                if (kind != LineKind::Other)
                    return;
                node.clear();
                appendMoveNode(node, source.decode(line), number);
                if (node.empty())
                    return;
                replayNode(*game, node);
                try {
                    encoded.clear();
                    appendEncoded(encoded, node, options.output);
                    extensions = extensions || usesCodePage932Extensions(encoded);
                } catch (const CommandFailure &failure) {
                    if (!unwritable)
                        unwritable = failure;
                }
            });
        }
    } catch (const CommandFailure &) {
        const std::string reason = notARecordReason(bytes);
        if (reason.empty())
            throw;
        throw CommandFailure(reason);
    }

    GameReport found = game->finish();
    std::string properties;
    appendEncoded(properties, std::u16string_view(root.node).substr(1), options.output);
    if (unwritable)
        throw *unwritable;
    const bool codePage932Only =
        options.output == RecordEncoding::Ansi && (extensions || usesCodePage932Extensions(properties));
    record.head = recordStart(options.output, codePage932Only);
    record.head += properties;
    record.head += found.handicapStones;
    record.warnings = std::move(found.warnings);
    record.position = std::move(found.position);
    return record;
}

// The bytes of a record on their way to a sink, in pieces of a fixed size.
class Output {
public:
    explicit Output(RecordSink &sink) : sink_(sink) { buffer_.reserve(capacity); }

    std::string &buffer() { return buffer_; }

    // Hands the buffer to the sink once it is full enough.
    void pass()
    {
        if (buffer_.size() >= capacity - 64)
            flush();
    }

    void flush()
    {
        if (!buffer_.empty())
            sink_.write(buffer_);
        buffer_.clear();
    }

private:
    static constexpr std::size_t capacity = 64 << 10;
    RecordSink &sink_;
    std::string buffer_;
};

// The second pass: writes the checked record to sink.
void writeRecord(const CheckedRecord &record, RecordEncoding encoding, RecordSink &sink)
{
    Output out(sink);
    out.buffer() += record.head;
    out.pass();
    if (record.hasData) {
        std::u16string node;
        forEachDataLine(record.data, record.firstLine, [&](std::string_view line, Int32 number) {
            AsciiMove move;
            const LineKind kind = readAsciiMove(line, move);
            std::string &buffer = out.buffer();
            if (kind == LineKind::Move) {
                buffer += ';';
                buffer += move.colour;
                buffer += '[';
                for (const char c : {move.x, move.y}) {
                    if (c == '\\' || c == ']')
                        buffer += '\\';
                    buffer += c;
                }
                buffer += ']';
            } else if (kind == LineKind::Other) {
                node.clear();
                appendMoveNode(node, record.source.decode(line), number);
                appendEncoded(buffer, node, encoding);
            }
            out.pass();
        });
    }
    out.buffer() += ")\r\n";
    out.flush();
}

} // namespace

ConversionReport convertRecord(std::string_view source, const ConversionOptions &options, RecordSink &sink)
{
    CheckedRecord record = checkRecord(source, options);
    ConversionReport report;
    report.warnings = std::move(record.warnings);
    report.position = std::move(record.position);
    report.written = !options.strict || report.warnings.empty();
    if (report.written)
        writeRecord(record, options.output, sink);
    return report;
}

Conversion convertSource(std::string_view source, const ConversionOptions &options)
{
    StringSink sink;
    ConversionReport report = convertRecord(source, options, sink);
    return {std::move(sink.bytes), std::move(report.warnings), std::move(report.position)};
}

} // namespace quillarn
