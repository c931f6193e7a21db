// A byte of the source that did not decode is written back as itself only where it reads back as
// itself: a lead byte followed by one of its trail bytes would read back as another character.
#include "codepage.h"
#include "text.h"

#include <gtest/gtest.h>

#include <string>

using quillarn::CommandFailure;
using quillarn::decodeAnsi;
using quillarn::encodeAnsi;

namespace {

std::string encodeFailure(const std::u16string &text)
{
    try {
        encodeAnsi(text);
    } catch (const CommandFailure &failure) {
        return failure.reason();
    }
    return "(no failure)";
}

} // namespace

TEST(UndecodedBytes, AreRefusedWhereTheByteAfterThemWouldCompleteThem)
{
    const std::string joined = " (the two would read back as one character)";
    const struct {
        std::u16string text;
        std::string reason;
    } refused[] = {
        // The "]" that closes a value after a name cut inside its last character.
        {u"PB[Kuro\xDC81]",
         "byte 0x81 of the source did not decode and cannot be written before \"]\"" + joined},
        {u"\xDCFB\\", "byte 0xFB of the source did not decode and cannot be written before \"\\\"" + joined},
        // A character held twice comes back as another code, which can be a trail byte's.
        {u"\xDC81\uFFE2",
         "byte 0x81 of the source did not decode and cannot be written before U+FFE2" + joined},
        {u"\xDC9F\xDC81",
         "byte 0x9F of the source did not decode and cannot be written before byte 0x81" + joined},
    };
    for (const auto &c : refused)
        EXPECT_EQ(encodeFailure(c.text), c.reason) << testing::PrintToString(c.text);

    // Where the next byte cannot be its trail byte, or its row holds no such code, it stays itself.
    const struct {
        std::u16string text;
        std::string bytes;
    } written[] = {
        {u"\xDC81", "\x81"},         {u"\xDC81\r\n", "\x81\r\n"}, {u"\xDC81,", "\x81,"},
        {u"\xDC81\x7F", "\x81\x7F"}, {u"\xDC85]", "\x85]"},       {u"\xDC81\uF8F1", "\x81\xFD"},
    };
    for (const auto &c : written) {
        EXPECT_EQ(encodeAnsi(c.text), c.bytes) << testing::PrintToString(c.text);
        EXPECT_EQ(decodeAnsi(c.bytes), c.text) << testing::PrintToString(c.text);
    }
}

TEST(UndecodedBytes, ALeadByteBeforeACharacterHeldTwiceDoesNotSwallowIt)
{
    // 81 EE F9: a lone lead byte, then "￢" at its NEC-selected code. Written as Windows writes
    // "￢" (81 CA), the bytes 81 81 CA would read back as "＝ﾊ".
    const std::string source("\x81\xEE\xF9", 3);
    const std::u16string text = decodeAnsi(source);
    ASSERT_EQ(text, u"\xDC81\uFFE2");
    EXPECT_THROW(encodeAnsi(text), CommandFailure);
}
