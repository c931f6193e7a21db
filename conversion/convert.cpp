// The conversion of convert.h.
#include "convert.h"

#include "game.h"
#include "text.h"

#include <optional>

namespace quillarn {

namespace {

// Reads one property value of record text from at (just after its "["), unescaped, and leaves at
// just after its "]".
std::u16string_view propertyValue(std::u16string_view record, std::size_t &at, std::u16string &value)
{
    value.clear();
    for (; at < record.size() && record[at] != u']'; ++at) {
        if (record[at] == u'\\')
            ++at;
        if (at < record.size())
            value += record[at];
    }
    ++at;
    return value;
}

// Returns the offset in record (as translateRecord writes it: "(" + root + moves + ")") just after
// its root node, having given the root's SZ and HA values and then each move node to a GameCheck.
std::size_t checkGame(std::u16string_view record, std::optional<GameCheck> &game)
{
    std::u16string size;
    std::u16string handicap;
    std::u16string value;
    std::size_t at = 2; // after "(;"
    while (at + 2 < record.size() && record[at] >= u'A' && record[at] <= u'Z') {
        const std::u16string_view id = record.substr(at, 2);
        at += 3; // the identifier and "["
        propertyValue(record, at, value);
        if (id == u"SZ")
            size = value;
        else if (id == u"HA")
            handicap = value;
    }
    const std::size_t rootEnd = at;
    game.emplace(size, handicap);
    while (at < record.size() && record[at] == u';') {
        const char16_t colour = record[at + 1];
        at += 3; // ";" colour "["
        propertyValue(record, at, value);
        game->move(colour, value.size() > 0 ? value[0] : 0, value.size() > 1 ? value[1] : 0);
    }
    return rootEnd;
}

} // namespace

ConversionReport convertRecord(std::string_view source, const ConversionOptions &options, RecordSink &sink)
{
    std::u16string record = translateSourceBytes(source);
    std::optional<GameCheck> game;
    const std::size_t rootEnd = checkGame(record, game);
    const GameReport found = game->finish();
    if (!found.handicapStones.empty())
        record.insert(rootEnd, std::u16string(found.handicapStones.begin(), found.handicapStones.end()));
    const std::string bytes = recordFileBytes(record, options.output);
    ConversionReport report;
    report.warnings = found.warnings;
    report.written = !options.strict || report.warnings.empty();
    if (report.written)
        sink.write(bytes);
    return report;
}

Conversion convertSource(std::string_view source, const ConversionOptions &options)
{
    StringSink sink;
    ConversionReport report = convertRecord(source, options, sink);
    return {std::move(sink.bytes), std::move(report.warnings)};
}

} // namespace quillarn
