// The byte-exact cases in tests/data: NAME.ugi with either NAME.sgf (the expected file) or
// NAME.fail (the expected reason, one line), and NAME.warn beside a NAME.sgf for the warnings the
// conversion gives (one a line).
#pragma once

#include "testfiles.h"

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct DataCase {
    std::string name;
    std::filesystem::path source;
    bool succeeds;
    std::string expected; // the record file's bytes, or the failure reason without its line end
    std::string warnings; // the warnings, each with its line end; empty for none
};

inline std::vector<DataCase> dataCases()
{
    std::vector<DataCase> cases;
    for (const auto &entry : std::filesystem::directory_iterator(QUILLARN_TEST_DATA)) {
        const auto &path = entry.path();
        if (path.extension() != ".ugi")
            continue;
        auto sgf = path;
        auto fail = path;
        sgf.replace_extension(".sgf");
        fail.replace_extension(".fail");
        DataCase c{path.stem().string(), path, std::filesystem::exists(sgf), "", ""};
        if (c.succeeds) {
            c.expected = readBytes(sgf);
            auto warn = path;
            warn.replace_extension(".warn");
            if (std::filesystem::exists(warn))
                c.warnings = readBytes(warn);
        } else {
            c.expected = readBytes(fail);
            if (!c.expected.empty() && c.expected.back() == '\n')
                c.expected.pop_back();
        }
        cases.push_back(c);
    }
    std::sort(cases.begin(), cases.end(),
              [](const DataCase &a, const DataCase &b) { return a.name < b.name; });
    return cases;
}

} // namespace testing_support
