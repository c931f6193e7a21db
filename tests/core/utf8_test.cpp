// Tests of UTF-8 (its encoding and decoding, what is valid) and of how a source's encoding is told,
// on the reference's decoded text (referencetranslator.h), which the converter is held to.
#include "../support/referencetranslator.h"
#include "codepage.h"
#include "text.h"
#include "utf8codec.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using quillarn::CommandFailure;
using quillarn::decodeAnsi;
using quillarn::decodeSource;
using quillarn::encodeUtf8;
using quillarn::EncodingDoubt;
using quillarn::SourceEncoding;

namespace {

std::string bytes(std::initializer_list<unsigned> values)
{
    std::string result;
    for (const unsigned value : values)
        result.push_back(static_cast<char>(value));
    return result;
}

// Returns the reason of the CommandFailure that run raises.
template <typename Run> std::string failureOf(const Run &run)
{
    try {
        run();
    } catch (const CommandFailure &failure) {
        return failure.reason();
    }
    return "(no failure)";
}

// --- UTF-8 ---

TEST(Utf8, Bytes)
{
    EXPECT_EQ(encodeUtf8(u""), "");
    EXPECT_EQ(encodeUtf8(u"(;GM[1])\n"), "(;GM[1])\n");
    EXPECT_EQ(encodeUtf8(std::u16string(1, u'\0')), std::string(1, '\0'));
    EXPECT_EQ(encodeUtf8(u"\u007F\u0080\u00E9\u07FF\u0800"),
              bytes({0x7F, 0xC2, 0x80, 0xC3, 0xA9, 0xDF, 0xBF, 0xE0, 0xA0, 0x80}));
    EXPECT_EQ(encodeUtf8(u"\u9ED2\u767D\uFF8C\uFFFF"),
              bytes({0xE9, 0xBB, 0x92, 0xE7, 0x99, 0xBD, 0xEF, 0xBE, 0x8C, 0xEF, 0xBF, 0xBF}));
    EXPECT_EQ(encodeUtf8(u"\U0001F600"), bytes({0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(encodeUtf8(u"\U00010000\U0010FFFF"), bytes({0xF0, 0x90, 0x80, 0x80, 0xF4, 0x8F, 0xBF, 0xBF}));
    // A low surrogate in U+DC80-U+DCFF after a high one is half a character, not a byte.
    EXPECT_EQ(encodeUtf8(u"\U0001F481"), bytes({0xF0, 0x9F, 0x92, 0x81}));
}

TEST(Utf8, UndecodedBytesAndLoneSurrogatesRaise)
{
    try {
        encodeUtf8(u"ab\xDC81");
        FAIL() << "no failure";
    } catch (const CommandFailure &failure) {
        EXPECT_EQ(std::string(failure.reason()),
                  "byte 0x81 of the source did not decode and cannot be written as UTF-8");
    }
    const std::u16string texts[] = {
        std::u16string(1, u'\xDCFF'),
        std::u16string(1, u'\xD800'),
        std::u16string(u"\xD83D"
                       u"a"),
        std::u16string(1, u'\xDC00'),
        std::u16string(u"\xDFFF\xD800"),
    };
    for (const std::u16string &text : texts)
        EXPECT_THROW(encodeUtf8(text), CommandFailure) << testing::PrintToString(text);
}

TEST(Utf8, DecodedJapaneseText)
{
    const std::string source = bytes({0x8D, 0x95, 0x82, 0xCC, 0x8F, 0x9F, 0x82, 0xBF, 0x0D, 0x0A});
    EXPECT_EQ(encodeUtf8(decodeAnsi(source)), "\xE9\xBB\x92\xE3\x81\xAE\xE5\x8B\x9D\xE3\x81\xA1\r\n");
}

TEST(Utf8, EveryCharacterComesBack)
{
    std::u16string text;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        if (c < 0x10000) {
            text += static_cast<char16_t>(c);
        } else {
            text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    EXPECT_TRUE(quillarn::decodeUtf8(encodeUtf8(text)) == text);
}

// --- Sources: UTF-8 or code page 932 ---

TEST(SourceEncoding, TheBytesTellIt)
{
    struct Case {
        std::string source;
        SourceEncoding forced;
        SourceEncoding read;
        EncodingDoubt doubt;
        std::u16string text;
    };
    const std::string mark = "\xEF\xBB\xBF";
    // The parts of a source that the translation reads: a header key's line and the data section.
    const auto titled = [](const std::string &title) { return "[Header]\r\nTitle=" + title + "\r\n"; };
    const auto titledText = [](const std::u16string &title) {
        return u"[Header]\r\nTitle=" + title + u"\r\n";
    };
    const Case cases[] = {
        {"[Header]", SourceEncoding::Auto, SourceEncoding::Cp932, EncodingDoubt::None, u"[Header]"},
        {mark + "[Header]", SourceEncoding::Auto, SourceEncoding::Utf8, EncodingDoubt::None, u"[Header]"},
        // 井山 in UTF-8 reads in code page 932 as 莠募ｱｱ, half-width katakana beside kanji.
        {titled("\xE4\xBA\x95\xE5\xB1\xB1"), SourceEncoding::Auto, SourceEncoding::Utf8, EncodingDoubt::None,
         titledText(u"井山")},
        {titled("\xF0\x9F\x98\x80"), SourceEncoding::Auto, SourceEncoding::Utf8, EncodingDoubt::None,
         titledText(u"\U0001F600")},
        // 佐藤 in UTF-8 reads as 菴占陸 too, but its UTF-8 reading is Japanese text as well.
        {titled("\xE4\xBD\x90\xE8\x97\xA4"), SourceEncoding::Auto, SourceEncoding::Utf8, EncodingDoubt::None,
         titledText(u"佐藤")},
        // 莉子 and 遙子 in code page 932 read in UTF-8 as 从q and ꡎq: "q" is the second byte of 子,
        // and a letter after a kanji is rare. 从 is a kanji too: 莉子 is read with the warning.
        {titled("\xE4\xBB\x8E\x71"), SourceEncoding::Auto, SourceEncoding::Cp932, EncodingDoubt::AlsoUtf8,
         titledText(u"莉子")},
        {titled("\xEA\xA1\x8E\x71"), SourceEncoding::Auto, SourceEncoding::Cp932, EncodingDoubt::None,
         titledText(u"遙子")},
        // Half-width katakana in pairs are valid UTF-8 of two bytes: ﾃｽ and ﾐｴ stay, unless marked; ý
        // is nearly as likely as ﾃｽ.
        {titled("\xC3\xBD"), SourceEncoding::Auto, SourceEncoding::Cp932, EncodingDoubt::AlsoUtf8,
         titledText(u"ﾃｽ")},
        {titled("\xD0\xB4"), SourceEncoding::Auto, SourceEncoding::Cp932, EncodingDoubt::AlsoUtf8,
         titledText(u"ﾐｴ")},
        // ﾒｲﾝ組 reads in UTF-8 as Ҳݑg; a comment that is not UTF-8 makes it plainer still.
        {titled("\xD2\xB2\xDD\x91\x67") + "Comment=\x8D\x95\r\n", SourceEncoding::Auto, SourceEncoding::Cp932,
         EncodingDoubt::None, titledText(u"ﾒｲﾝ組") + u"Comment=黒\r\n"},
        // 小坂A in UTF-8 reads in code page 932 as 蟆丞揩A.
        {titled("\xE5\xB0\x8F\xE5\x9D\x82"
                "A"),
         SourceEncoding::Auto, SourceEncoding::Utf8, EncodingDoubt::None, titledText(u"小坂A")},
        {mark + "\xC3\xBD", SourceEncoding::Auto, SourceEncoding::Utf8, EncodingDoubt::None, u"ý"},
        {"\xC3\xBD", SourceEncoding::Utf8, SourceEncoding::Utf8, EncodingDoubt::None, u"ý"},
        // Straße: ﾃ and a kanji of level 2 in code page 932, nearly as likely.
        {titled("Stra\xC3\x9F"
                "e"),
         SourceEncoding::Auto, SourceEncoding::Utf8, EncodingDoubt::AlsoCp932, titledText(u"Straße")},
        // One byte that is not UTF-8 makes it all code page 932: 井山 in UTF-8, then 井 in code page 932.
        {titled("\xE4\xBA\x95\xE5\xB1\xB1\x88\xE4"), SourceEncoding::Auto, SourceEncoding::Cp932,
         EncodingDoubt::None, titledText(u"莠募ｱｱ井")},
        // The whole file is weighed: a later section that is not UTF-8 (黒 in code page 932) outweighs
        // UTF-8 (日本) in the parts the translation reads, which would choose UTF-8 alone: a warning.
        {titled("\xE6\x97\xA5\xE6\x9C\xAC") + "[Remote]\r\nNote=\x8D\x95", SourceEncoding::Auto,
         SourceEncoding::Cp932, EncodingDoubt::AlsoUtf8, titledText(u"譌･譛ｬ") + u"[Remote]\r\nNote=黒"},
        {"[Data]\r\nQD,B \xE6\x97\xA5\r\n[Remote]\r\n\x8D\x95", SourceEncoding::Auto, SourceEncoding::Cp932,
         EncodingDoubt::AlsoUtf8, u"[Data]\r\nQD,B 譌･\r\n[Remote]\r\n黒"},
        {titled("a") + "Note=\xE6\x97\xA5", SourceEncoding::Auto, SourceEncoding::Cp932, EncodingDoubt::None,
         titledText(u"a") + u"Note=譌･"},
        {"\xE4\xBA\x95", SourceEncoding::Cp932, SourceEncoding::Cp932, EncodingDoubt::None, u"莠\xDC95"},
        {mark, SourceEncoding::Cp932, SourceEncoding::Cp932, EncodingDoubt::None, u"\xDCEFｻｿ"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.source));
        const quillarn::SourceText read = decodeSource(c.source, c.forced);
        EXPECT_EQ(read.encoding, c.read);
        EXPECT_EQ(read.doubt, c.doubt);
        EXPECT_EQ(read.text, c.text);
    }
}

TEST(SourceEncoding, BytesThatAreNotUtf8FailAUtf8Source)
{
    struct Case {
        std::string source;
        SourceEncoding forced;
        std::string reason;
    };
    const std::string marked = " (the source starts with a UTF-8 byte-order mark)";
    const Case cases[] = {
        {"\xEF\xBB\xBF"
         "ab\x82",
         SourceEncoding::Auto, "line 1, column 3: byte 0x82 is not valid UTF-8" + marked},
        {"\xEF\xBB\xBF\r\nab\xE4\xBA", SourceEncoding::Utf8,
         "line 2, column 3: bytes 0xE4 0xBA are not valid UTF-8"},
        {"a\xE4\x41\x42", SourceEncoding::Utf8, "line 1, column 2: bytes 0xE4 0x41 are not valid UTF-8"},
        {"\xC0\xAF", SourceEncoding::Utf8, "line 1, column 1: byte 0xC0 is not valid UTF-8"}, // overlong
        {"\xE0\x80\xAF", SourceEncoding::Utf8,
         "line 1, column 1: bytes 0xE0 0x80 are not valid UTF-8"}, // overlong
        {"\xED\xA0\x80", SourceEncoding::Utf8,
         "line 1, column 1: bytes 0xED 0xA0 are not valid UTF-8"}, // surrogate
        {"\xF4\x90\x80\x80", SourceEncoding::Utf8, "line 1, column 1: bytes 0xF4 0x90 are not valid UTF-8"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.source));
        EXPECT_EQ(failureOf([&] { decodeSource(c.source, c.forced); }), c.reason);
    }
    // What is not a UGI record at all is still told as such.
    using namespace std::string_view_literals;
    EXPECT_EQ(
        failureOf([] { quillarn::translateSourceBytes("\xFF\xFE[\0H\0e\0a\0"sv, SourceEncoding::Utf8); }),
        "UTF-16 text, not a UGI record");
}

} // namespace
