// The whole-record translation of referencetranslator.h: the header found in the decoded text, the
// data section split into lines there, each line translated as the converter translates it.
#include "referencetranslator.h"

#include "movelistcheck.h"
#include "text.h"

#include <optional>

namespace quillarn {

namespace {

constexpr std::u16string_view crLf = u"\r\n";

// The header lines of decoded text: the header area runs from the first "[Header]" to the end of
// the source, later sections included.
class TextHeaderLines : public HeaderLines {
public:
    explicit TextHeaderLines(std::u16string_view source) : source_(source)
    {
        const Int32 marker = InStr(source, u"[Header]");
        if (marker != 0)
            area_ = Mid(source, marker);
    }

    bool hasHeader() override { return !area_.empty(); }
    bool hasCrLf() override { return InStr(source_, crLf) != 0; }

    bool find(std::u16string_view key, std::u16string_view &line, bool &ended) override
    {
        const Int32 at = InStr(area_, key);
        if (at == 0)
            return false;
        const std::u16string_view rest = Mid(area_, at);
        const Int32 end = InStr(rest, crLf);
        ended = end != 0;
        line = ended ? Left(rest, sub32(end, 1)) : rest;
        return true;
    }

private:
    std::u16string_view source_;
    std::u16string_view area_;
};

// Returns the offset of the first CR or LF in text at or after from, npos when there is none.
std::size_t findLineEnd(std::u16string_view text, std::size_t from)
{
    for (std::size_t at = from; at < text.size(); ++at) {
        const char16_t c = text[at];
        if (c == u'\r' || c == u'\n')
            return at;
    }
    return std::u16string_view::npos;
}

// Line number (1-based, lines ended by CR LF) of the position offset in text.
Int32 lineNumberAt(std::u16string_view text, std::size_t offset)
{
    Int32 line = 1;
    for (std::size_t at = text.find(crLf); at < offset; at = text.find(crLf, at + 2))
        line = add32(line, 1);
    return line;
}

// Appends the move nodes of source to nodes.
void appendMoves(std::u16string &nodes, std::u16string_view source, bool emptyPass, MoveListCheck &check)
{
    const Int32 marker = InStr(source, u"[Data]");
    if (marker == 0)
        return;

    // The data section starts right after the marker; its first line is the rest of the marker's
    // line. It ends at the next line that opens a section, or at the end of the text, whether or
    // not the last line has its CR LF. Lines end in CR LF: a lone CR or LF before the end means
    // the line ends were mixed up (a file edited or copied as text elsewhere), and reading on
    // would join the lines after it into one and drop their moves, so the record fails instead.
    const std::u16string_view data = Mid(source, add32(marker, 6));
    Int32 lineNumber = lineNumberAt(source, static_cast<std::size_t>(marker) - 1);
    Int32 moves = 0;                           // move lines so far: the lines that hold a comma
    nodes.reserve(nodes.size() + data.size()); // a node is never longer than its line, bar escapes
    std::size_t start = 0;
    for (;;) {
        if (start < data.size() && data[start] == u'[')
            break;
        const std::size_t end = findLineEnd(data, start);
        const bool endsInCrLf = end != std::u16string_view::npos && data[end] == u'\r' &&
                                end + 1 < data.size() && data[end + 1] == u'\n';
        const std::u16string_view line =
            data.substr(start, end == std::u16string_view::npos ? end : end - start);
        const DataLinePlace place = {lineNumber, InStr(line, u",") != 0 ? add32(moves, 1) : 0};
        if (end != std::u16string_view::npos && !endsInCrLf)
            failLoneLineEnd(place, data[end]);
        appendMoveNode(nodes, line, place, emptyPass);
        if (place.move != 0)
            check.move(line, line.find(u','), lineNumber);
        else
            check.notMove(line, lineNumber);
        moves = place.move != 0 ? place.move : moves;
        if (end == std::u16string_view::npos)
            break;
        start = end + crLf.size();
        lineNumber = add32(lineNumber, 1);
    }
}

} // namespace

std::u16string translateMoves(std::u16string_view source, bool emptyPass)
{
    std::u16string nodes;
    MoveListCheck check;
    appendMoves(nodes, source, emptyPass, check);
    return nodes;
}

std::u16string translateRecord(std::u16string_view source, std::vector<Reason> *moveListWarnings)
{
    TextHeaderLines lines(source);
    const RootNode root = translateRoot(lines);
    std::u16string record = u"(" + root.node;
    MoveListCheck check;
    appendMoves(record, source, passIsEmptyOn(root.size), check);
    record += u')';
    if (moveListWarnings != nullptr) {
        // "Moves=" counts when it stands in the header before "[Data]", with its CR LF.
        const Int32 data = InStr(source, u"[Data]");
        const std::u16string_view header =
            Mid(Left(source, data != 0 ? sub32(data, 1) : Len(source)), InStr(source, u"[Header]"));
        const Int32 key = InStr(header, u"Moves=");
        const Int32 end = key != 0 ? InStr(Mid(header, key), u"\r\n") : 0;
        std::optional<std::u16string> declared;
        if (end != 0)
            declared = std::u16string(Mid(Left(Mid(header, key), sub32(end, 1)), 7));
        *moveListWarnings = check.finish(data != 0, declared ? &*declared : nullptr);
    }
    return record;
}

std::vector<std::u16string_view> translatedParts(std::u16string_view source)
{
    std::vector<std::u16string_view> parts;
    TextHeaderLines lines(source);
    for (const std::u16string_view key : headerKeys) {
        std::u16string_view line;
        bool ended = false;
        if (lines.find(key, line, ended))
            parts.push_back(line);
    }
    const Int32 marker = InStr(source, u"[Data]");
    if (marker != 0) {
        const std::u16string_view data = Mid(source, add32(marker, 6));
        const Int32 next = Left(data, 1) == u"[" ? 1 : InStr(data, u"\r\n[");
        parts.push_back(next != 0 ? Left(data, sub32(next, 1)) : data);
    }
    return parts;
}

} // namespace quillarn
