// Every byte-exact case in tests/data, through the library: read, translate, encode.
#include "recordfile.h"
#include "sourcekind.h"
#include "text.h"

#include "../support/datacases.h"
#include "../support/sgfcheck.h"

#include <gtest/gtest.h>

TEST(DataCases, LibraryWritesTheExpectedBytesOrFailsWithTheExpectedReason)
{
    const auto cases = testing_support::dataCases();
    ASSERT_GE(cases.size(), 10u);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes;
        std::string reason;
        try {
            bytes =
                quillarn::recordFileBytes(quillarn::translateSourceBytes(quillarn::readFileBytes(c.source)));
        } catch (const quillarn::CommandFailure &failure) {
            reason = failure.reason();
        }
        if (c.succeeds) {
            EXPECT_EQ(reason, "");
            EXPECT_EQ(bytes, c.expected);
            EXPECT_EQ(testing_support::sgfFileProblem(bytes), "");
        } else {
            EXPECT_EQ(reason, c.expected);
        }
    }
}
