// The text operations' edge behaviour and the checked position arithmetic.
#include "text.h"

#include <gtest/gtest.h>

using namespace quillarn;

TEST(TextOperations, EdgeTable)
{
    EXPECT_EQ(InStr(u"abc", u"c"), 3);
    EXPECT_EQ(InStr(u"abc", u"C"), 0);
    EXPECT_EQ(InStr(u"abcabc", u"bc"), 2);
    EXPECT_EQ(Mid(u"abc", 4), u"");
    EXPECT_THROW(Mid(u"abc", 0), CommandFailure);
    EXPECT_EQ(Mid(u"abc", 2, 0), u"");
    EXPECT_THROW(Mid(u"abc", 2, -1), CommandFailure);
    EXPECT_EQ(Mid(u"abc", 2, 5), u"bc");
    EXPECT_THROW(Mid(u"abc", 0, 1), CommandFailure);
    EXPECT_EQ(Mid(u"abc", 9, 1), u"");
    EXPECT_EQ(Left(u"abc", 0), u"");
    EXPECT_THROW(Left(u"abc", -1), CommandFailure);
    EXPECT_EQ(Left(u"abc", 7), u"abc");
    EXPECT_EQ(Right(u"abc", 5), u"abc");
    EXPECT_EQ(Right(u"abc", 2), u"bc");
    EXPECT_THROW(Right(u"abc", -1), CommandFailure);
    EXPECT_EQ(Len(u""), 0);
    EXPECT_EQ(Len(u"碁石"), 2);
}

TEST(TextOperations, CaseMappingCoversAsciiAndLeavesJapaneseAlone)
{
    EXPECT_EQ(LCase(u"QD,B1 Ys"), u"qd,b1 ys");
    EXPECT_EQ(UCase(u"a.UgI"), u"A.UGI");
    EXPECT_EQ(UCase(u"ﾌｧｲﾙ.ugi"), u"ﾌｧｲﾙ.UGI");
    EXPECT_EQ(LCase(u"ÀÉ"), u"àé");
    EXPECT_EQ(UCase(u"ａｂ"), u"ＡＢ");
}

TEST(PositionArithmetic, LeavingTheWidthRaises)
{
    EXPECT_THROW(add16(32767, 1), CommandFailure);
    EXPECT_THROW(sub16(-32768, 1), CommandFailure);
    EXPECT_EQ(add16(32766, 1), 32767);
    EXPECT_THROW(toInt16(32768), CommandFailure);
    EXPECT_THROW(toInt16(-32769), CommandFailure);
    EXPECT_EQ(toInt16(-32768), -32768);
    EXPECT_THROW(add32(2147483647, 1), CommandFailure);
    EXPECT_THROW(sub32(-2147483647 - 1, 1), CommandFailure);
    EXPECT_EQ(sub32(0, 1), -1);
}

TEST(CommandFailure, CarriesItsReason)
{
    try {
        Mid(u"abc", 0);
        FAIL();
    } catch (const CommandFailure &failure) {
        EXPECT_STRNE(failure.reason(), "");
    }
}
