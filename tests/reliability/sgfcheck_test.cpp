// The well-formedness check every produced record is held to: it must reject the ways a record
// breaks, or the tests and fuzz targets that rely on it prove nothing.
#include "../support/sgfcheck.h"

#include <gtest/gtest.h>

using testing_support::sgfFileProblem;
using testing_support::sgfProblem;

TEST(SgfCheck, AcceptsRecordsAndRejectsEachWayOneBreaks)
{
    for (const std::u16string record : {
             u"(;)",
             u"(;GN[Match]CP[]RE[B+R];B[qd];W[dp])",
             u"(;GN[a\\]b\\\\]PB[\\\\])", // escaped "]" and "\" in values
             u"(;AB[aa][bb];W[tt])",      // several values for one property
             u"(;GN[\u9ED2\r\n])",
         }) {
        EXPECT_EQ(sgfProblem(record), "") << testing::PrintToString(record);
    }
    const struct {
        std::u16string record;
        std::string problem;
    } broken[] = {
        {u"", "at code unit 0: the record does not start with \"(;\""},
        {u"(GN[a])", "at code unit 0: the record does not start with \"(;\""},
        {u"(;GN[a]", "at code unit 7: the record does not end with \")\""},
        {u"(;GN[a)", "at code unit 7: a value is not closed by \"]\""},
        {u"(;GN[a\\])", "at code unit 9: a value is not closed by \"]\""},
        {u"(;GN[a]b])", "at code unit 7: neither a node, a property nor the end of the record"},
        {u"(;gn[a])", "at code unit 2: neither a node, a property nor the end of the record"},
        {u"(;GN)", "at code unit 4: a property identifier is not followed by \"[\""},
        {u"(;][pd])", "at code unit 2: neither a node, a property nor the end of the record"},
        {u"(;B[qd]) ", "at code unit 8: text after the closing \")\""},
        {u"(;B[qd](;W[dp]))", "at code unit 7: neither a node, a property nor the end of the record"},
    };
    for (const auto &c : broken)
        EXPECT_EQ(sgfProblem(c.record), c.problem) << testing::PrintToString(c.record);
}

TEST(SgfCheck, AFileIsCheckedAsItReadsBack)
{
    EXPECT_EQ(sgfFileProblem("(;GN[\x8D\x95])\r\n"), "");
    EXPECT_EQ(sgfFileProblem("(;GN[a])"), "the file does not end with CR LF");
    EXPECT_EQ(sgfFileProblem("(;GN[a])\r\n\r\n"),
              "as read back: at code unit 8: text after the closing \")\"");
    // A lone lead byte before "]" reads back as one character with it, and the value runs on.
    EXPECT_EQ(sgfFileProblem("(;GN[\x81])\r\n"),
              "as read back: at code unit 7: a value is not closed by \"]\"");
}
