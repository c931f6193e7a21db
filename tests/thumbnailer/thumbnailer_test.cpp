// quillarn-thumbnailer run as a file manager runs it: a position gives the same picture whatever
// record holds it, and a file that is not a record gives no picture at all.
#include "../support/process.h"
#include "../support/testfiles.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;

namespace {

// Returns the PNG file that the thumbnailer writes at 128 pixels for a file name holding bytes.
std::string thumbnail(const ScratchDir &dir, const std::string &name, const std::string &bytes)
{
    writeBytes(dir / name, bytes);
    const Outcome outcome =
        run(THUMBNAILER, {"-s", "128", (dir / name).string(), (dir / (name + ".png")).string()});
    EXPECT_EQ(outcome.status, 0) << name << ": " << outcome.err;
    return readBytes(dir / (name + ".png"));
}

const char record[] =
    "[Header]\r\nTitle=t\r\nCopyright=c\r\nWinner=B,C\r\nPlayerB=a,1d,\r\nPlayerW=b,1d,\r\n"
    "Place=p\r\nDate=2000/01/01,\r\nSize=9\r\nHdcp=0,6.5\r\n[Data]\r\nDE,B1,1,0\r\nEE,W2,2,0\r\n"
    "FE,B3,3,0\r\nAA,W4,4,0\r\nED,B5,5,0\r\nBA,W6,6,0\r\nEF,B7,7,0\r\n"; // the last takes ee

} // namespace

TEST(Thumbnailer, SamePositionGivesTheSamePicture)
{
    const ScratchDir dir;
    const std::string position = thumbnail(dir, "position", "(;SZ[9]AB[de][fe][ed][ef]AW[aa][ba])");
    EXPECT_EQ(position.substr(16, 8), std::string("\0\0\0\x80\0\0\0\x80", 8)); // 128 x 128
    EXPECT_EQ(thumbnail(dir, "record.UGI", record), position);
    // Under CA[Shift_JIS] the second byte of ソ is no escape: the comment ends there.
    EXPECT_EQ(
        thumbnail(dir, "cp932.sgf",
                  "(;CA[Shift_JIS]SZ[9]C[\x83\x5C];B[de];W[ee];B[fe];W[aa];B[ed];W[ba]PB[\x83\x5C];B[ef])"),
        position);
    // The handicap stones that the converted record places are on the picture.
    EXPECT_EQ(thumbnail(dir, "handicap.ugi", readBytes(QUILLARN_TEST_DATA "/handicap-stones.ugi")),
              thumbnail(dir, "handicap.sgf", "(;AB[pd][dp][pp][dd][rd][qe]AW[qf][re])"));
    EXPECT_NE(thumbnail(dir, "empty.sgf", "(;SZ[9])"), thumbnail(dir, "one.sgf", "(;SZ[9]AB[ee])"));
}

TEST(Thumbnailer, FileThatIsNotARecordLeavesNoPicture)
{
    const ScratchDir dir;
    writeBytes(dir / "notes.sgf", "some notes\n");
    for (const std::string name : {"notes.sgf", "missing.ugi"}) {
        const Outcome outcome =
            run(THUMBNAILER, {"-s", "128", (dir / name).string(), (dir / "out.png").string()});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err.rfind((dir / name).string() + ": ", 0), 0u) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }
    EXPECT_EQ(listing(dir.path()), "notes.sgf ");
    EXPECT_EQ(run(THUMBNAILER, {"-s", "0", (dir / "notes.sgf").string(), (dir / "out.png").string()}).status,
              2);
}
