// The conversion of convert.h, done on the source's bytes. The markers and header keys are found in
// the bytes, and only the header keys' lines are decoded for the translation of the root node. A
// data line whose move is plain ASCII is translated straight from its bytes (datalines.h); any other
// line (other bytes, a comma too far out, anything that fails) goes through the translation of its
// decoded text, which defines every result and every reason. The data is read twice: the first pass
// checks all that can fail and replays the moves, the second writes, so that a sink receives nothing
// for a record that fails and no copy of the whole record is ever held.
#include "convert.h"

#include "codepage.h"
#include "datalines.h"
#include "movelistcheck.h"
#include "translation.h"
#include "utf8codec.h"

#include <deque>
#include <optional>

namespace quillarn {

namespace {

constexpr std::size_t none = std::string_view::npos;

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
        const std::size_t at = source_.find(std::string(key.begin(), key.end()), marker_);
        if (at == none)
            return false;
        // CR and LF are characters of their own in both encodings.
        const std::size_t end = source_.bytes().find("\r\n", at);
        ended = end != none;
        lines_.push_back(source_.decode(source_.bytes().substr(at, ended ? end - at : none)));
        line = lines_.back();
        return true;
    }

    // Returns the value of the header's "Moves=" line when one stands between "[Header]" and
    // "[Data]" (or the end), with its CR LF.
    // Only its digits count: the value's other bytes are widened as they are, never decoded, so
    // that a line no encoding reads makes no more than a count that is not a number.
    std::optional<std::u16string> declaredMoves() const
    {
        const SourceBytes header(source_.bytes().substr(0, source_.find("[Data]", 0)), source_.isUtf8());
        const std::size_t at = header.find("Moves=", marker_);
        if (at == none)
            return std::nullopt;
        const std::size_t end = header.bytes().find("\r\n", at);
        if (end == none)
            return std::nullopt;
        std::u16string value;
        for (const char c : header.bytes().substr(at + 6, end - at - 6))
            value += static_cast<char16_t>(static_cast<unsigned char>(c));
        return value;
    }

private:
    const SourceBytes &source_;
    std::size_t marker_;
    std::deque<std::u16string> lines_; // the lines handed out, which the views point into
};

// Gives the move of a node's text (";B[qd]", escapes as writeMoveNode writes them) to game.
void replayNode(GameCheck &game, std::u16string_view node)
{
    char16_t point[2];
    std::size_t length = 0;
    for (std::size_t at = 3; at + 1 < node.size() && length < 2; ++at) {
        if (node[at] == u'\\')
            ++at;
        point[length++] = node[at];
    }
    game.move(node[1], {point, length});
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
    std::string head;       // "(;CA[...]" + the root's properties + the handicap stones
    bool hasData = false;   // whether the source holds "[Data]"
    std::string_view data;  // the data section, from just after "[Data]"
    Int32 firstLine = 1;    // the number of the data section's first line
    bool emptyPass = false; // a pass is written as an empty value (passIsEmptyOn)
    std::vector<Warning> warnings;
    GamePosition position;
};

// The first pass: translates and checks everything, replays the moves, encodes all but the move
// nodes. Raises CommandFailure as the translation of the decoded source and its encoding would, in
// this order: the reading's reason, the translation's (each replaced by notARecordReason where it
// says more), then the encoding's, the first in the record, whose root comes before its moves.
CheckedRecord checkRecord(std::string_view bytes, const ConversionOptions &options)
{
    CheckedRecord record;
    RootNode root;
    std::optional<GameCheck> game;
    std::optional<CommandFailure> unwritable; // the first move node that cannot be encoded
    bool extensions = false;                  // whether a node holds code page 932's own characters
    EncodingDoubt doubt = EncodingDoubt::None;
    MoveListCheck moveList;
    std::optional<std::u16string> declaredMoves;
    try {
        record.source = readSource(bytes, options.source, doubt);
    } catch (const CommandFailure &) {
        failJudgingTheFile(bytes, true);
    }
    try {
        const SourceBytes &source = record.source;
        ByteHeaderLines lines(source);
        root = translateRoot(lines);
        declaredMoves = lines.declaredMoves();
        game.emplace(root.size, root.handicap, options.game);
        record.emptyPass = passIsEmptyOn(root.size);
        const std::size_t marker = source.find("[Data]", 0);
        record.hasData = marker != none;
        if (record.hasData) {
            record.data = source.bytes().substr(marker + 6);
            for (std::size_t at = 0; (at = source.bytes().find("\r\n", at)) < marker; at += 2)
                record.firstLine = add32(record.firstLine, 1);
            std::u16string node;
            std::string encoded;
            Int32 moves = 0; // for the reason of a line that fails
            forEachDataLine(record.data, record.firstLine, [&](std::string_view line, Int32 number) {
                AsciiMove move;
                const LineKind kind = readAsciiMove(line, move);
                if (kind == LineKind::Move) {
                    char16_t point[2];
                    game->move(static_cast<char16_t>(move.colour), move.point(record.emptyPass, point));
                    ++moves;
                }
                if (kind == LineKind::Move) {
                    moveList.move(line, move.comma, number);
                    return;
                }
                if (kind == LineKind::NoMove) {
                    moveList.notMove(line, number);
                    return;
                }
                node.clear();
                appendMoveNode(node, source.decode(line), {number, moves + 1}, record.emptyPass);
                if (node.empty()) {
                    moveList.notMove(line, number);
                    return;
                }
                moveList.move(line, line.find(','), number);
                ++moves;
                replayNode(*game, node);
                // An encoding failure waits for the end of the data: a later line may fail the
                // translation, whose reason comes first.
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
        failJudgingTheFile(bytes, false);
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
    if (doubt != EncodingDoubt::None)
        record.warnings.push_back(encodingDoubtWarning(doubt, root.node));
    for (Reason &warning : moveList.finish(record.hasData, declaredMoves ? &*declaredMoves : nullptr))
        record.warnings.push_back({std::move(warning), ReasonKind::Other});
    for (Reason &warning : found.warnings)
        record.warnings.push_back({std::move(warning), ReasonKind::Other});
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
            if (kind == LineKind::Move) {
                char point[2] = {};
                const std::size_t length = movePoint(move.x, move.y, record.emptyPass, point);
                char bytes[8];
                out.buffer().append(bytes, writeMoveNode(bytes, move.colour, point, length));
            } else if (kind == LineKind::Other) {
                node.clear();
                // Checked by the first pass: raises nothing, so needs no move number.
                appendMoveNode(node, record.source.decode(line), {number, 0}, record.emptyPass);
                appendEncoded(out.buffer(), node, encoding);
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
    // A record saved on another system is read as if its lines ended in CR LF, and says so.
    std::string crlf;
    std::optional<Warning> lineEnds;
    source = withCrLfLineEnds(source, crlf, lineEnds);
    CheckedRecord record = checkRecord(source, options);
    ConversionReport report;
    if (lineEnds)
        report.warnings.push_back(std::move(*lineEnds));
    report.warnings.insert(report.warnings.end(), std::make_move_iterator(record.warnings.begin()),
                           std::make_move_iterator(record.warnings.end()));
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
