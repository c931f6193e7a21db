// The text operations' edge behaviour and the checked position arithmetic.
#include "commandfailure.h"
#include "text.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

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

// Every entry of the catalogue is said in English and in Japanese, with the same values in each: a
// missing text, or a value that one language would leave out, fails here.
TEST(CommandFailure, EveryReasonHasBothTextsWithTheSameValues)
{
    const auto valuesOf = [](std::string_view text) {
        std::multiset<char> values;
        for (std::size_t at = text.find('{'); at != std::string_view::npos; at = text.find('{', at + 1))
            values.insert(text.substr(at, 3).back() == '}' ? text[at + 1] : '?');
        return values;
    };
    for (auto said = static_cast<int>(Said::Joined); said < static_cast<int>(Said::Count); ++said) {
        SCOPED_TRACE(said);
        const char *english = catalogueText(static_cast<Said>(said), Language::English);
        const char *japanese = catalogueText(static_cast<Said>(said), Language::Japanese);
        ASSERT_TRUE(english && japanese && *english && *japanese);
        EXPECT_EQ(valuesOf(english), valuesOf(japanese)) << english << " | " << japanese;
        EXPECT_EQ(valuesOf(english).count('?'), 0u) << english;
        // A Japanese text is Japanese, but for one that only joins its values.
        if (std::string_view(english).find_first_not_of("{}12: ") != std::string_view::npos) {
            EXPECT_NE(std::string_view(english), std::string_view(japanese));
        }
    }
    EXPECT_EQ(Reason(std::make_error_code(std::errc::no_space_on_device)).in(Language::Japanese),
              "ディスクに空きがありません");
    EXPECT_EQ(Reason(std::make_error_code(std::errc::no_space_on_device)).english(),
              std::make_error_code(std::errc::no_space_on_device).message());
}
