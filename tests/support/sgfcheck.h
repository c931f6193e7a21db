// The well-formedness check for every record Quillarn produces, shared by the test suites and the
// fuzz targets: a record must read back as the nodes and values that were written, whatever its
// values hold.
#pragma once

#include "codepage.h"

#include <string>
#include <string_view>

namespace testing_support {

// Returns "" when record is a well-formed record of one line of play, otherwise what is wrong and
// where: "(;" opens it and ")" ends it; between them stand nodes, each ";" followed by properties;
// a property is one or more upper-case letters followed by one or more values; a value opens with
// "[" and ends at the first "]" not escaped by a "\" (which escapes any character after it).
inline std::string sgfProblem(std::u16string_view record)
{
    const auto at = [](std::size_t position, const std::string &what) {
        return "at code unit " + std::to_string(position) + ": " + what;
    };
    const auto isUpper = [](char16_t c) { return c >= u'A' && c <= u'Z'; };
    if (record.substr(0, 2) != u"(;")
        return at(0, "the record does not start with \"(;\"");
    std::size_t i = 1;
    while (i < record.size() && record[i] == u';') {
        ++i;
        while (i < record.size() && isUpper(record[i])) {
            while (i < record.size() && isUpper(record[i]))
                ++i;
            if (i == record.size() || record[i] != u'[')
                return at(i, "a property identifier is not followed by \"[\"");
            while (i < record.size() && record[i] == u'[') {
                for (++i; i < record.size() && record[i] != u']'; ++i) {
                    if (record[i] == u'\\')
                        ++i;
                }
                if (i >= record.size())
                    return at(record.size(), "a value is not closed by \"]\"");
                ++i;
            }
        }
    }
    if (i == record.size())
        return at(i, "the record does not end with \")\"");
    if (record[i] != u')')
        return at(i, "neither a node, a property nor the end of the record");
    if (i + 1 != record.size())
        return at(i + 1, "text after the closing \")\"");
    return "";
}

// Returns "" when bytes are a well-formed record file: a record that is well-formed as the code
// page reads it back, followed by exactly one CR LF.
inline std::string sgfFileProblem(std::string_view bytes)
{
    if (bytes.size() < 2 || bytes.substr(bytes.size() - 2) != "\r\n")
        return "the file does not end with CR LF";
    bytes.remove_suffix(2);
    const std::string problem = sgfProblem(quillarn::decodeAnsi(bytes));
    return problem.empty() ? "" : "as read back: " + problem;
}

} // namespace testing_support
