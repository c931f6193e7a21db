// What "nothing lost" means for a record, stated apart from the translation code so that the fuzz
// targets and the property tests can hold every produced record to it: each move line of the
// source became a node, each root value is the header field it came from, and the file reads back.
#pragma once

#include "codepage.h"
#include "translation.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testing_support {

using Property = std::pair<std::u16string, std::u16string>; // identifier, value without escapes

// Returns the lines of the data section: from just after the first "[Data]" to the first line that
// starts with "[", split at every CR LF, lone CR and lone LF. None without "[Data]".
inline std::vector<std::u16string_view> dataSectionLines(std::u16string_view source)
{
    std::vector<std::u16string_view> lines;
    const std::size_t marker = source.find(u"[Data]");
    if (marker == std::u16string_view::npos)
        return lines;
    std::u16string_view rest = source.substr(marker + 6);
    for (;;) {
        const std::size_t end = rest.find_first_of(u"\r\n");
        const std::u16string_view line = rest.substr(0, end);
        if (!line.empty() && line[0] == u'[')
            break;
        lines.push_back(line);
        if (end == std::u16string_view::npos)
            break;
        const bool crLf = rest[end] == u'\r' && end + 1 < rest.size() && rest[end + 1] == u'\n';
        rest.remove_prefix(end + (crLf ? 2 : 1));
    }
    return lines;
}

// Returns the nodes of a record "(;...;...)" as lists of properties; empty when it is not one.
inline std::vector<std::vector<Property>> recordNodes(std::u16string_view record)
{
    std::vector<std::vector<Property>> nodes;
    if (record.size() < 3 || record.substr(0, 2) != u"(;" || record.back() != u')')
        return nodes;
    std::size_t i = 1;
    while (i + 1 < record.size() && record[i] == u';') {
        nodes.emplace_back();
        ++i;
        while (i < record.size() && record[i] >= u'A' && record[i] <= u'Z') {
            Property property;
            while (record[i] != u'[')
                property.first += record[i++];
            for (++i; i < record.size() && record[i] != u']'; ++i) {
                if (record[i] == u'\\')
                    ++i;
                property.second += record[i];
            }
            ++i;
            nodes.back().push_back(property);
        }
    }
    return nodes;
}

// Returns the root properties the header of source gives, read as simply as a person would: a
// key's value is the text after its first occurrence past "[Header]" up to the next CR LF.
inline std::vector<Property> rootFromHeader(std::u16string_view source)
{
    const std::u16string_view area = source.substr(source.find(u"[Header]"));
    const auto lineOf = [&](std::u16string_view key) {
        const std::u16string_view rest = area.substr(area.find(key));
        return rest.substr(0, rest.find(u"\r\n"));
    };
    const auto valueOf = [&](std::u16string_view key) {
        return std::u16string(lineOf(key).substr(key.size()));
    };
    const auto fields = [](const std::u16string &value) {
        std::vector<std::u16string> parts(1);
        for (const char16_t c : value) {
            if (c == u',')
                parts.emplace_back();
            else
                parts.back() += c;
        }
        return parts;
    };
    const std::u16string winner = valueOf(u"Winner=");
    const std::u16string margin = winner.size() > 2 ? winner.substr(2) : u"";
    const auto black = fields(valueOf(u"PlayerB="));
    const auto white = fields(valueOf(u"PlayerW="));
    std::u16string date(lineOf(u"Date="));
    date = date.substr(5, date.find(u',') - 5);
    for (char16_t &c : date)
        c = c == u'/' ? u'-' : c;
    const std::u16string handicap = valueOf(u"Hdcp=");
    const std::size_t comma = handicap.find(u',');
    return {
        {u"GN", valueOf(u"Title=")},
        {u"CP", valueOf(u"Copyright=")},
        {u"RE", winner.substr(0, 1) + (margin == u"C" ? u"+R" : u"+" + margin)},
        {u"PB", black.at(0)},
        {u"BR", black.at(1)},
        {u"PW", white.at(0)},
        {u"WR", white.at(1)},
        {u"PC", valueOf(u"Place=")},
        {u"DT", date},
        {u"SZ", std::u16string(quillarn::trimmedNumber(valueOf(u"Size=")))},
        {u"HA", handicap.substr(0, comma)},
        {u"KM", handicap.substr(comma + 1)},
    };
}

// Returns "" when record, produced from source, keeps everything the source says: the root node
// holds the header's values and there is one move node per data line that holds a comma.
inline std::string recordLossProblem(std::u16string_view source, std::u16string_view record)
{
    const auto nodes = recordNodes(record);
    if (nodes.empty())
        return "the record has no nodes";
    std::size_t moveLines = 0;
    for (const std::u16string_view line : dataSectionLines(source))
        moveLines += line.find(u',') != std::u16string_view::npos ? 1 : 0;
    if (nodes.size() - 1 != moveLines)
        return std::to_string(moveLines) + " data lines hold a comma, but the record has " +
               std::to_string(nodes.size() - 1) + " move nodes";
    const std::vector<Property> root = rootFromHeader(source);
    if (nodes.front() != root) {
        for (std::size_t i = 0; i < root.size(); ++i) {
            if (i >= nodes.front().size() || nodes.front()[i] != root[i])
                return "root property " + std::to_string(i + 1) + " differs from the header's field";
        }
        return "the root node has more properties than the header gives";
    }
    return "";
}

// Returns "" when the file bytes written for record read back as record, with the charset property
// that leads the root node.
inline std::string recordFileProblem(std::u16string_view record, std::string_view file)
{
    const std::u16string text = quillarn::decodeAnsi(file);
    for (const std::u16string_view charset : {u"(;CA[Shift_JIS]", u"(;CA[CP932]"}) {
        if (text.compare(0, charset.size(), charset) == 0)
            return text.substr(charset.size()) == std::u16string(record.substr(2)) + u"\r\n"
                       ? ""
                       : "the record file does not read back as the record";
    }
    return "the record file does not start with its charset";
}

} // namespace testing_support
