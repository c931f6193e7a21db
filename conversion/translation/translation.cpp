// The root node and the move nodes of translation.h.
#include "translation.h"

#include "commandfailure.h"

#include <algorithm>

namespace quillarn {

namespace {

// Key texts are ASCII; reasons are plain byte strings for the command line.
std::string ascii(std::u16string_view text)
{
    std::string result;
    for (char16_t c : text)
        result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
}

void appendEscaped(std::u16string &out, std::u16string_view value)
{
    for (char16_t c : value) {
        if (c == u'\\' || c == u']')
            out += u'\\';
        out += c;
    }
}

void appendProperty(std::u16string &node, std::u16string_view id, std::u16string_view value)
{
    node += id;
    node += u'[';
    appendEscaped(node, value);
    node += u']';
}

// The header as the root node reads it: each key's line and value, with the reasons of a key
// that is missing or not ended.
class Header {
public:
    explicit Header(HeaderLines &lines) : lines_(lines)
    {
        if (!lines.hasHeader())
            throw CommandFailure(Said::MissingHeader);
    }

    // Returns the line of key: from its first occurrence (anywhere in the area, not only at the
    // start of a line) to just before the CR LF that follows it.
    std::u16string_view line(std::u16string_view key) const
    {
        std::u16string_view line;
        bool ended = false;
        if (!lines_.find(key, line, ended))
            throw CommandFailure(Reason(Said::MissingHeaderKey, {ascii(key)}));
        if (!ended) {
            // LF-only and CR-only files fail at their first key; say why rather than name the key.
            if (!lines_.hasCrLf())
                throw CommandFailure(Said::NoCrLfLineEnds);
            throw CommandFailure(Reason(Said::NoCrLfAfterKey, {ascii(key)}));
        }
        return line;
    }

    // Returns the value of key: its line after the key text.
    std::u16string_view value(std::u16string_view key) const { return Mid(line(key), add32(Len(key), 1)); }

private:
    HeaderLines &lines_;
};

// "B,C" gives B+R (resignation, case-sensitive "C"); anything else keeps its text: "W,6.5" gives W+6.5.
std::u16string winnerResult(std::u16string_view v)
{
    const std::u16string_view t = Mid(v, 3);
    std::u16string result(Left(v, 1));
    if (t == u"C")
        result += u"+R";
    else
        (result += u'+') += t;
    return result;
}

// "Name,Rank,..." gives the name and the rank; both commas are required.
void appendPlayer(std::u16string &node, const Header &header, std::u16string_view key,
                  std::u16string_view nameId, std::u16string_view rankId)
{
    const std::u16string_view v = header.value(key);
    const Int32 first = InStr(v, u",");
    if (first == 0)
        throw CommandFailure(Reason(Said::NoCommaInValue, {ascii(key)}));
    const std::u16string_view rest = Mid(v, add32(first, 1));
    const Int32 second = InStr(rest, u",");
    if (second == 0)
        throw CommandFailure(Reason(Said::NoSecondCommaInValue, {ascii(key)}));
    appendProperty(node, nameId, Left(v, sub32(first, 1)));
    appendProperty(node, rankId, Left(rest, sub32(second, 1)));
}

// The date is the line's text between "Date=" and its first comma, with every "/" made "-". The loop
// counts in 16-bit positions, as the record format does, and its index goes one past the last
// character: a date of more than 32766 characters cannot be rewritten.
std::u16string dateValue(const Header &header)
{
    const std::u16string_view line = header.line(u"Date=");
    const Int32 comma = InStr(line, u",");
    if (comma == 0)
        throw CommandFailure(Reason(Said::NoCommaInLine, {"Date="}));
    std::u16string date(Mid(line, 6, sub32(comma, 6)));
    try {
        const Int16 n = toInt16(Len(date));
        for (Int16 i = 1; i <= n; i = add16(i, 1)) {
            if (date[static_cast<std::size_t>(i) - 1] == u'/')
                date[static_cast<std::size_t>(i) - 1] = u'-';
        }
    } catch (const CommandFailure &) {
        throw CommandFailure(Reason(Said::DateTooLong, {std::to_string(date.size())}));
    }
    return date;
}

void appendHandicap(RootNode &root, const Header &header)
{
    const std::u16string_view v = header.value(u"Hdcp=");
    const Int32 comma = InStr(v, u",");
    if (comma == 0)
        throw CommandFailure(Reason(Said::NoCommaInValue, {"Hdcp="}));
    root.handicap = Left(v, sub32(comma, 1));
    appendProperty(root.node, u"HA", root.handicap);
    appendProperty(root.node, u"KM", Mid(v, add32(comma, 1)));
}

// "line 16 (move 5)", or "line 16" for a line that is not a move, before what is wrong there.
Reason atPlace(DataLinePlace place, Reason reason)
{
    Reason where = place.move != 0
                       ? Reason(Said::LineOfMove, {std::to_string(place.line), std::to_string(place.move)})
                       : Reason(Said::Line, {std::to_string(place.line)});
    return Reason(Said::Joined, {std::move(where), std::move(reason)});
}

} // namespace

// One data line: the two characters before its first comma are the coordinate, the character
// after it the colour. A line without a comma is not a move.
void appendMoveNode(std::u16string &nodes, std::u16string_view line, DataLinePlace place, bool emptyPass)
{
    const Int32 comma = InStr(line, u",");
    if (comma == 0)
        return;
    // Positions in a data line are 16-bit, the colour's just after the comma too: a comma beyond
    // 32766 leaves the colour out of reach.
    if (comma > 32766)
        throw CommandFailure(atPlace(place, Reason(Said::CommaBeyondReach, {std::to_string(comma)})));
    const Int16 p = toInt16(comma);
    if (p <= 2)
        throw CommandFailure(atPlace(place, Reason(Said::CommaAtPosition, {std::to_string(p)})));

    const std::u16string_view colour = Mid(line, add16(p, 1), 1);
    if (colour.empty())
        throw CommandFailure(atPlace(place, Said::NoColour));
    if (colour[0] < u'A' || colour[0] > u'Z')
        throw CommandFailure(atPlace(place, Reason(Said::ColourNotALetter, {describe(colour[0], "U+", 4)})));

    const std::u16string_view coordinate = Mid(line, sub16(p, 2), 2);
    char16_t point[2];
    const std::size_t length =
        movePoint(lowerCaseUnit(coordinate[0]), lowerCaseUnit(coordinate[1]), emptyPass, point);
    char16_t node[8];
    nodes.append(node, writeMoveNode(node, colour[0], point, length));
}

void failLoneLineEnd(DataLinePlace place, char16_t c)
{
    throw CommandFailure(atPlace(place, c == u'\n' ? Said::LfWithoutCr : Said::CrWithoutLf));
}

RootNode translateRoot(HeaderLines &lines)
{
    const Header header(lines);
    RootNode root;
    root.node = u";";
    appendProperty(root.node, u"GN", header.value(u"Title="));
    appendProperty(root.node, u"CP", header.value(u"Copyright="));
    appendProperty(root.node, u"RE", winnerResult(header.value(u"Winner=")));
    appendPlayer(root.node, header, u"PlayerB=", u"PB", u"BR");
    appendPlayer(root.node, header, u"PlayerW=", u"PW", u"WR");
    appendProperty(root.node, u"PC", header.value(u"Place="));
    appendProperty(root.node, u"DT", dateValue(header));
    root.size = trimmedNumber(header.value(u"Size="));
    appendProperty(root.node, u"SZ", root.size);
    appendHandicap(root, header);
    return root;
}

std::u16string_view trimmedNumber(std::u16string_view value)
{
    const std::size_t first = value.find_first_not_of(u" \t");
    if (first == std::u16string_view::npos)
        return value;
    const std::u16string_view number = value.substr(first, value.find_last_not_of(u" \t") + 1 - first);
    for (const char16_t c : number) {
        if (c < u'0' || c > u'9')
            return value;
    }
    return number;
}

bool passIsEmptyOn(std::u16string_view size)
{
    // Where the size is unknown, so is whether "tt" is a point.
    if (size.empty())
        return true;
    for (const char16_t c : size) {
        if (c < u'0' || c > u'9')
            return true;
    }
    const std::u16string_view lines = size.substr(std::min(size.find_first_not_of(u'0'), size.size()));
    return lines.size() > 2 || (lines.size() == 2 && lines > u"19");
}

const std::u16string_view headerKeys[9] = {u"Title=", u"Copyright=", u"Winner=", u"PlayerB=", u"PlayerW=",
                                           u"Place=", u"Date=",      u"Size=",   u"Hdcp="};

} // namespace quillarn
