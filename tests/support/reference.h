// The conversion as the text operations define it, whole and slowly: the source decoded, translated
// as text (translateRecord, referencetranslator.h), its moves replayed from the record text, the
// handicap stones put after the root's properties, the text encoded. The converter works on the
// source's bytes instead; the differential tests and the fuzz target hold it to the same bytes,
// warnings and reasons (with their kinds) as this.
#pragma once

#include "convert.h"
#include "game.h"
#include "referencetranslator.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// Reads one property value of record text from at (just after its "["), unescaped, and leaves at
// just after its "]".
inline std::u16string propertyValue(std::u16string_view record, std::size_t &at)
{
    std::u16string value;
    for (; at < record.size() && record[at] != u']'; ++at) {
        if (record[at] == u'\\')
            ++at;
        if (at < record.size())
            value += record[at];
    }
    ++at;
    return value;
}

// Returns what convertSource returns for source, or raises the CommandFailure it raises.
inline quillarn::Conversion referenceConversion(std::string_view source,
                                                const quillarn::ConversionOptions &options)
{
    // Lines of another system are made CR LF first, as the conversion does.
    std::string crlf;
    std::optional<quillarn::Warning> lineEnds;
    source = quillarn::withCrLfLineEnds(source, crlf, lineEnds);
    const quillarn::TranslatedSource translated = quillarn::translateSourceBytes(source, options.source);
    std::u16string record = translated.record;
    std::u16string size;
    std::u16string handicap;
    std::size_t at = 2; // after "(;"
    while (at + 2 < record.size() && record[at] >= u'A' && record[at] <= u'Z') {
        const std::u16string id = record.substr(at, 2);
        at += 3; // the identifier and "["
        const std::u16string value = propertyValue(record, at);
        if (id == u"SZ")
            size = value;
        else if (id == u"HA")
            handicap = value;
    }
    const std::size_t rootEnd = at;
    quillarn::GameCheck game(size, handicap);
    while (at < record.size() && record[at] == u';') {
        const char16_t colour = record[at + 1];
        at += 3; // ";" colour "["
        game.move(colour, propertyValue(record, at));
    }
    const quillarn::GameReport found = game.finish();
    record.insert(rootEnd, std::u16string(found.handicapStones.begin(), found.handicapStones.end()));
    quillarn::Conversion conversion;
    conversion.bytes = quillarn::recordFileBytes(record, options.output);
    if (lineEnds)
        conversion.warnings.push_back(*lineEnds);
    if (translated.doubt != quillarn::EncodingDoubt::None)
        conversion.warnings.push_back(quillarn::encodingDoubtWarning(
            translated.doubt, std::u16string_view(record).substr(1, rootEnd - 1)));
    for (const quillarn::Reason &warning : translated.moveListWarnings)
        conversion.warnings.push_back({warning, quillarn::ReasonKind::Other});
    for (const quillarn::Reason &warning : found.warnings)
        conversion.warnings.push_back({warning, quillarn::ReasonKind::Other});
    if (options.strict && !conversion.warnings.empty())
        conversion.bytes.clear();
    return conversion;
}

// The options the two conversions are compared in: how sources are read by default and into the
// window's code page, code page 932 read and UTF-8 written, and UTF-8 forced, strict.
inline const std::vector<quillarn::ConversionOptions> &comparedOptions()
{
    using quillarn::RecordEncoding;
    using quillarn::SourceEncoding;
    static const std::vector<quillarn::ConversionOptions> options = {
        {SourceEncoding::Auto, RecordEncoding::Ansi, false},
        {SourceEncoding::Cp932, RecordEncoding::Utf8, false},
        {SourceEncoding::Utf8, RecordEncoding::Ansi, true},
    };
    return options;
}

// Returns what convert gave, as one text to compare: the record file's bytes and each warning, or the
// reason it failed, each with its kind when it has one.
template <typename Convert> std::string outcomeOf(const Convert &convert)
{
    const auto kind = [](quillarn::ReasonKind kind) {
        return kind == quillarn::ReasonKind::Other ? std::string()
                                                   : " [" + std::to_string(static_cast<int>(kind)) + "]";
    };
    try {
        const quillarn::Conversion conversion = convert();
        std::string result = "converted: " + conversion.bytes;
        for (const quillarn::Warning &warning : conversion.warnings)
            result += "\nwarning" + kind(warning.kind) + ": " + warning.reason.english() + " | " +
                      warning.reason.in(quillarn::Language::Japanese);
        return result;
    } catch (const quillarn::CommandFailure &failure) {
        return "failed" + kind(failure.kind()) + ": " + std::string(failure.reason()) + " | " +
               failure.said().in(quillarn::Language::Japanese);
    }
}

} // namespace testing_support
