// Every byte-exact case in tests/data, through the library: read, translate, encode.
#include "commandfailure.h"
#include "convert.h"
#include "recordfile.h"

#include "../support/datacases.h"
#include "../support/sgfcheck.h"

#include <gtest/gtest.h>

TEST(DataCases, LibraryWritesTheExpectedBytesOrFailsWithTheExpectedReason)
{
    const auto cases = testing_support::dataCases();
    ASSERT_GE(cases.size(), 10u);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        quillarn::Conversion conversion;
        std::string reason;
        try {
            conversion = quillarn::convertSource(quillarn::readFileBytes(c.source), {});
        } catch (const quillarn::CommandFailure &failure) {
            reason = failure.reason();
        }
        const std::string &bytes = conversion.bytes;
        if (c.succeeds) {
            std::string warnings;
            for (const std::string &warning : conversion.warnings)
                warnings += warning + "\n";
            EXPECT_EQ(reason, "");
            EXPECT_EQ(bytes, c.expected);
            EXPECT_EQ(warnings, c.warnings);
            EXPECT_EQ(testing_support::sgfFileProblem(bytes), "");
        } else {
            EXPECT_EQ(reason, c.expected);
        }
    }
}
