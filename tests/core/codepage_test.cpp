// Tests of the code page 932 conversions, the same on every system.
#include "codepage.h"
#include "text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using quillarn::CommandFailure;
using quillarn::decodeAnsi;
using quillarn::encodeAnsi;

namespace {

bool isLead(unsigned byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string bytesOf(unsigned code)
{
    if (code > 0xFF)
        return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    return std::string(1, static_cast<char>(code));
}

std::string bytes(std::initializer_list<unsigned> values)
{
    std::string result;
    for (const unsigned value : values)
        result.push_back(static_cast<char>(value));
    return result;
}

std::string codeName(unsigned code)
{
    char text[16];
    std::snprintf(text, sizeof text, "code 0x%X", code);
    return text;
}

bool isUndecoded(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

// The code Windows writes for a character held at each of codes: the lowest outside the lead
// bytes ED and EE, which hold NEC's copies of the IBM extensions.
unsigned windowsCode(const std::vector<unsigned> &codes)
{
    unsigned best = 0;
    for (const unsigned code : codes) {
        const unsigned lead = code >> 8;
        if (lead != 0xED && lead != 0xEE && (best == 0 || code < best))
            best = code;
    }
    return best != 0 ? best : *std::min_element(codes.begin(), codes.end());
}

struct Code {
    unsigned code;
    char16_t unit;
};

// Every single byte and double-byte code that decodes to a character.
std::vector<Code> decodedCodes()
{
    std::vector<Code> codes;
    for (unsigned byte = 0; byte <= 0xFF; ++byte) {
        const std::u16string text = decodeAnsi(bytesOf(byte));
        if (text.size() == 1 && !isUndecoded(text[0]))
            codes.push_back({byte, text[0]});
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLead(lead))
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            const std::u16string text = decodeAnsi(bytesOf(lead << 8 | trail));
            if (text.size() == 1)
                codes.push_back({lead << 8 | trail, text[0]});
        }
    }
    return codes;
}

// --- Every code ---

TEST(CodePage932, EveryCodeComesBackAsItselfUnlessHeldTwice)
{
    const std::vector<Code> codes = decodedCodes();
    std::map<char16_t, std::vector<unsigned>> codesOf;
    for (const Code &code : codes)
        codesOf[code.unit].push_back(code.code);

    int notBack = 0;
    for (const Code &code : codes) {
        SCOPED_TRACE(codeName(code.code));
        const unsigned expected = windowsCode(codesOf[code.unit]);
        ASSERT_EQ(encodeAnsi(std::u16string(1, code.unit)), bytesOf(expected));
        const unsigned lead = code.code >> 8;
        if (lead == 0xED || lead == 0xEE) {
            EXPECT_NE(expected, code.code) << "every NEC-selected IBM extension has an IBM code";
        }
        if (expected != code.code)
            ++notBack;
    }
    // 196 single bytes, 7915 double-byte characters plus 1880 user-defined ones minus the lone
    // lead bytes; 374 codes in ED/EE and 24 other duplicates come back as another code.
    EXPECT_EQ(codes.size(), 9800u);
    EXPECT_EQ(codesOf.size(), 9402u);
    EXPECT_EQ(notBack, 398);
}

TEST(CodePage932, DuplicatesComeBackAsWindowsCode)
{
    struct Duplicate {
        unsigned code;
        char16_t unit;
        unsigned written;
    };
    const Duplicate duplicates[] = {
        {0x8790, u'\u2252', 0x81E0}, // ≒, NEC row 13 copy of JIS X 0208
        {0x879A, u'\u2235', 0x81E6}, // ∵, NEC row 13
        {0xFA5B, u'\u2235', 0x81E6}, // ∵, IBM extension
        {0xFA54, u'\uFFE2', 0x81CA}, // ￢, IBM extension
        {0xEEF9, u'\uFFE2', 0x81CA}, // ￢, NEC-selected IBM extension
        {0xFA4A, u'\u2160', 0x8754}, // Ⅰ, IBM extension held in NEC row 13
        {0xFA58, u'\u3231', 0x878A}, // ㈱
        {0xED40, u'\u7E8A', 0xFA5C}, // 纊, NEC-selected IBM extension
        {0xEEEF, u'\u2170', 0xFA40}, // ⅰ, held only in ED/EE and the IBM rows
        {0xEEFB, u'\uFF07', 0xFA56}, // ＇
        {0xEEFC, u'\uFF02', 0xFA57}, // ＂
    };
    for (const Duplicate &duplicate : duplicates) {
        SCOPED_TRACE(codeName(duplicate.code));
        const std::u16string text = decodeAnsi(bytesOf(duplicate.code));
        EXPECT_EQ(text, std::u16string(1, duplicate.unit));
        EXPECT_EQ(encodeAnsi(text), bytesOf(duplicate.written));
        EXPECT_EQ(decodeAnsi(bytesOf(duplicate.written)), text);
    }
}

TEST(CodePage932, KnownCharacters)
{
    // Backslash and tilde stay ASCII; the yen sign and overline are not silently written as them.
    EXPECT_EQ(decodeAnsi("\\~"), u"\\~");
    EXPECT_EQ(encodeAnsi(u"\\~"), "\\~");
    EXPECT_THROW(encodeAnsi(u"\u00A5"), CommandFailure);
    EXPECT_THROW(encodeAnsi(u"\u203E"), CommandFailure);

    const std::string kanji = bytes({0x8D, 0x95, 0x20, 0x94, 0x92, 0x20, 0x8C, 0xE9});
    EXPECT_EQ(decodeAnsi(kanji), u"\u9ED2 \u767D \u7881"); // 黒 白 碁
    EXPECT_EQ(encodeAnsi(u"\u9ED2 \u767D \u7881"), kanji);
    const std::string katakana = bytes({0xCC, 0xA7, 0xB2, 0xD9});
    EXPECT_EQ(decodeAnsi(katakana), u"\uFF8C\uFF67\uFF72\uFF99"); // ﾌｧｲﾙ
    EXPECT_EQ(encodeAnsi(u"\uFF8C\uFF67\uFF72\uFF99"), katakana);

    EXPECT_EQ(decodeAnsi(bytes({0x81, 0x40, 0x88, 0x9F, 0x81, 0x5F, 0x81, 0x60})),
              u"\u3000\u4E9C\uFF3C\uFF5E");
    // The first and last user-defined codes, and the single bytes outside ASCII and katakana.
    EXPECT_EQ(decodeAnsi(bytes({0xF0, 0x40, 0xF9, 0xFC})), u"\uE000\uE757");
    EXPECT_EQ(decodeAnsi(bytes({0x80, 0xA0, 0xFD, 0xFE, 0xFF})), u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3");
    EXPECT_EQ(decodeAnsi(std::string(1, '\0')), std::u16string(1, u'\0'));
    EXPECT_EQ(encodeAnsi(std::u16string(1, u'\0')), std::string(1, '\0'));
}

// --- Bytes that do not decode ---

TEST(CodePage932, EverySingleByteComesBack)
{
    for (unsigned byte = 0; byte <= 0xFF; ++byte) {
        const std::string source = bytesOf(byte);
        const std::u16string text = decodeAnsi(source);
        ASSERT_EQ(text.size(), 1u) << byte;
        if (isLead(byte)) {
            EXPECT_EQ(text[0], 0xDC00 + byte) << byte;
        }
        EXPECT_EQ(encodeAnsi(text), source) << byte;
    }
}

TEST(CodePage932, EveryPairThatIsNotACodeSplits)
{
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLead(lead))
            continue;
        for (unsigned trail = 0; trail <= 0xFF; ++trail) {
            const std::string source = bytesOf(lead << 8 | trail);
            const std::u16string text = decodeAnsi(source);
            if (text.size() != 1) {
                SCOPED_TRACE(codeName(lead << 8 | trail));
                ASSERT_EQ(text, static_cast<char16_t>(0xDC00 + lead) + decodeAnsi(source.substr(1)));
                ASSERT_EQ(encodeAnsi(text), source);
            }
        }
    }
}

TEST(CodePage932, LeadWithoutCodeStandsAlone)
{
    struct Case {
        std::string source;
        std::u16string text;
    };
    const Case cases[] = {
        {bytes({0x41, 0x81}), u"A\xDC81"},                   // lead byte at the end
        {bytes({0x81, 0x20}), u"\xDC81 "},                   // trail byte below 0x40
        {bytes({0x81, 0x7F}), u"\xDC81\x7F"},                // the gap among trail bytes
        {bytes({0x81, 0xFD}), u"\xDC81\uF8F1"},              // trail byte above 0xFC
        {bytes({0x85, 0x40}), u"\xDC85@"},                   // unassigned code
        {bytes({0x85, 0x81, 0x40}), u"\xDC85\u3000"},        // the next byte starts a code itself
        {bytes({0x81, 0x81, 0x81, 0x40}), u"\uFF1D\u3000"},  // lead bytes as trail bytes
        {bytes({0xEB, 0x40, 0x88, 0x9F}), u"\xDCEB@\u4E9C"}, // a row with no codes
        {bytes({0x80, 0x81}), u"\u0080\xDC81"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.source));
        EXPECT_EQ(decodeAnsi(c.source), c.text);
        EXPECT_EQ(encodeAnsi(c.text), c.source);
    }
}

TEST(CodePage932, RandomBytesComeBack)
{
    // Bytes that never start or end a character held twice, so everything must come back exactly;
    // a slip at a code's edge (end of input, a lead byte as trail) shows as a different string.
    std::vector<char> alphabet;
    for (unsigned byte = 0; byte <= 0xFF; ++byte) {
        if (byte != 0x87 && byte != 0xED && byte != 0xEE && byte < 0xFA)
            alphabet.push_back(static_cast<char>(byte));
    }
    std::mt19937 random(932);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int round = 0; round < 20000; ++round) {
        std::string source;
        for (int i = length(random); i > 0; --i)
            source.push_back(alphabet[pick(random)]);
        const std::u16string text = decodeAnsi(source);
        ASSERT_LE(text.size(), source.size());
        ASSERT_EQ(encodeAnsi(text), source) << testing::PrintToString(source);
    }
}

// --- Characters the code page cannot hold ---

TEST(CodePage932, UnwritableCharactersRaise)
{
    const std::u16string texts[] = {
        u"caf\u00E9",          std::u16string(1, u'\xD800'), std::u16string(u"a\xDC41"),
        u"\U0001F600",         std::u16string(u"\xDBFF"),    std::u16string(u"\xDFFF\xD800"),
        u"\u9ED2\u00E9\u767D",
    };
    for (const std::u16string &text : texts)
        EXPECT_THROW(encodeAnsi(text), CommandFailure) << testing::PrintToString(text);

    // The reason names the character and shows it unless it is a control or layout character; its
    // kind lets a front end say how else to write it.
    struct Case {
        std::u16string text;
        std::string reason;
    };
    const std::string tail = " cannot be written in code page 932";
    const Case cases[] = {
        {u"caf\u00E9", "character U+00E9 \"é\"" + tail},
        {u"\u9ED2\u4E02", "character U+4E02 \"丂\"" + tail},
        {u"\u9ED2\U0001F600", "character U+1F600 \"😀\"" + tail},
        {u"a\u0085b", "character U+0085" + tail},
        {u"a\u202Eb", "character U+202E" + tail},
        {u"a\xD800", "unpaired surrogate U+D800 cannot be written in code page 932"},
    };
    for (const Case &c : cases) {
        try {
            encodeAnsi(c.text);
            ADD_FAILURE() << "no failure for " << testing::PrintToString(c.text);
        } catch (const CommandFailure &failure) {
            EXPECT_EQ(std::string(failure.reason()), c.reason);
            EXPECT_EQ(failure.kind(), c.reason.rfind("character ", 0) == 0
                                          ? quillarn::ReasonKind::NotInCodePage932
                                          : quillarn::ReasonKind::Other);
        }
    }
}

} // namespace
