// quillarn-thumbnailer run as a file manager runs it: a position gives the same picture whatever
// record holds it, a file that is not a record gives no picture at all, the picture goes into the
// output itself and only whole, and the record is never written over.
#include "../support/process.h"
#include "../support/testfiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// Runs the thumbnailer at 128 pixels on input, writing output.
Outcome picture(const std::filesystem::path &input, const std::filesystem::path &output,
                const ChildSetup &setup = {})
{
    return run(THUMBNAILER, {"-s", "128", input.string(), output.string()}, setup);
}

// Returns the PNG file that the thumbnailer writes for a file name holding bytes.
std::string thumbnail(const ScratchDir &dir, const std::string &name, const std::string &bytes)
{
    writeBytes(dir / name, bytes);
    const Outcome outcome = picture(dir / name, dir / (name + ".png"));
    EXPECT_EQ(outcome.status, 0) << name << ": " << outcome.err;
    return readBytes(dir / (name + ".png"));
}

// Returns what fd gives from where it stands, up to its end or, for a FIFO, all it holds now.
std::string readAll(int fd)
{
    std::string bytes;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(got));
    return bytes;
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

TEST(Thumbnailer, OutputThatIsTheRecordIsRefused)
{
    const ScratchDir dir;
    const std::filesystem::path game = dir / "game.ugi";
    writeBytes(game, record);
    std::filesystem::create_symlink("game.ugi", dir / "link.ugi");
    std::filesystem::create_hard_link(game, dir / "hard.ugi");
    const std::string folder = dir.path().filename().string();
    for (const std::filesystem::path &output :
         {game, dir / "." / "game.ugi", dir / ".." / folder / "game.ugi", dir / "link.ugi",
          dir / "hard.ugi"}) {
        const Outcome outcome = picture(game, output);
        EXPECT_EQ(outcome.status, 1) << output;
        EXPECT_EQ(outcome.err,
                  game.string() + ": the output " + output.string() + " would replace the source\n");
    }
    EXPECT_EQ(readBytes(game), record);
    EXPECT_EQ(listing(dir.path()), "game.ugi hard.ugi link.ugi ");
}

// tumbler makes the output file, runs the thumbnailer, and reads the picture through the descriptor
// it holds; a FIFO passes the picture on and stays a FIFO.
TEST(Thumbnailer, PictureIsWrittenIntoTheOutputItself)
{
    const ScratchDir dir;
    const std::string expected = thumbnail(dir, "game.ugi", record);
    writeBytes(dir / "made.png", "");
    const int made = ::open((dir / "made.png").c_str(), O_RDONLY);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const int fifo = ::open((dir / "fifo").c_str(), O_RDWR | O_NONBLOCK); // a reader that never blocks
    for (const char *name : {"made.png", "fifo"}) {
        const Outcome outcome = picture(dir / "game.ugi", dir / name);
        EXPECT_EQ(outcome.status, 0) << name << ": " << outcome.err;
    }
    EXPECT_TRUE(readAll(made) == expected);
    EXPECT_TRUE(readAll(fifo) == expected);
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
    ::close(made);
    ::close(fifo);
}

// An output that is not a new or empty file of the user's own goes through the writer ugi2sgf
// writes with: another name of the same file keeps what it held, and in a shared folder another
// user's link is not followed, even to an empty file.
TEST(Thumbnailer, OutputIsWrittenUnderTheRulesOfEveryWriter)
{
    const ScratchDir dir;
    const std::string expected = thumbnail(dir, "game.ugi", record);
    writeBytes(dir / "hard.png", "");
    std::filesystem::create_hard_link(dir / "hard.png", dir / "other name");
    EXPECT_EQ(picture(dir / "game.ugi", dir / "hard.png").status, 0);
    EXPECT_TRUE(readBytes(dir / "hard.png") == expected);
    EXPECT_EQ(readBytes(dir / "other name"), "");

    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's link needs root to make";
    const std::filesystem::path shared = dir / "shared";
    std::filesystem::create_directory(shared);
    ASSERT_EQ(::chown(shared.c_str(), 1234, 1234), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    writeBytes(dir / "empty.conf", "");
    std::filesystem::create_symlink(dir / "empty.conf", shared / "t.png");
    ASSERT_EQ(::lchown((shared / "t.png").c_str(), 4321, 4321), 0);
    const Outcome outcome = picture(dir / "game.ugi", shared / "t.png");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, (shared / "t.png").string() +
                               ": the output is another user's symbolic link in a shared folder (sticky, "
                               "writable by all); not followed\n");
    EXPECT_EQ(readBytes(dir / "empty.conf"), "");
}

// A full disk, or here a file size limit: the picture is written whole or not at all, and an old
// picture stays.
TEST(Thumbnailer, PictureThatCannotBeWrittenLeavesTheOutputAsItWas)
{
    const ScratchDir dir;
    ASSERT_GT(thumbnail(dir, "game.ugi", record).size(), 1000u);
    writeBytes(dir / "empty.png", "");
    writeBytes(dir / "old.png", "old picture");
    ChildSetup limited;
    limited.fileSizeLimit = 1000;
    for (const char *name : {"new.png", "empty.png", "old.png"}) {
        const Outcome outcome = picture(dir / "game.ugi", dir / name, limited);
        EXPECT_EQ(outcome.status, 1) << name;
        EXPECT_EQ(outcome.err, (dir / name).string() + ": File too large\n");
    }
    EXPECT_EQ(readBytes(dir / "empty.png"), "");
    EXPECT_EQ(readBytes(dir / "old.png"), "old picture");
    EXPECT_EQ(listing(dir.path()), "empty.png game.ugi game.ugi.png old.png ");
}

// A file manager runs the thumbnailer on whatever a folder holds: a file over 16 MiB is refused by
// its size, and a crafted one of millions of values costs no more memory than its own size.
TEST(Thumbnailer, LargeFilesAreRefusedOrReadInLittleMemory)
{
    const ScratchDir dir;
    writeBytes(dir / "huge.sgf", "");
    std::filesystem::resize_file(dir / "huge.sgf", (16 << 20) + 1);
    Outcome outcome = picture(dir / "huge.sgf", dir / "huge.png");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              (dir / "huge.sgf").string() +
                  ": file of 16777217 bytes is too large for a picture (at most 16777216 bytes)\n");

    const std::size_t values = 7 << 20;
    std::string crafted = "(;SZ[19]AB";
    for (std::size_t i = 0; i < values; ++i)
        crafted += "[]";
    writeBytes(dir / "crafted.sgf", crafted + ")");
    writeBytes(dir / "empty.sgf", "(;SZ[19])");
    const long baseline = picture(dir / "empty.sgf", dir / "empty.png").peakMemoryKb;
    outcome = picture(dir / "crafted.sgf", dir / "crafted.png");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(readBytes(dir / "crafted.png") == readBytes(dir / "empty.png"));
    EXPECT_LT(outcome.peakMemoryKb - baseline, static_cast<long>(crafted.size() / 1024) + 8 * 1024);
    EXPECT_EQ(listing(dir.path()), "crafted.png crafted.sgf empty.png empty.sgf huge.sgf ");
}

// A byte that did not decode has no place in UTF-8; the picture is then made through code page 932,
// and when that fails too, the message says why of both.
TEST(Thumbnailer, RecordThatConvertsInNoEncodingGivesTheReasonsOfBoth)
{
    const ScratchDir dir;
    const std::string cannot = " of the source did not decode and cannot be written";
    const std::string joined = cannot + " before \"]\" (the two would read back as one character)";
    const struct {
        const char *title;
        const char *white;
        std::string reason;
    } rows[] = {
        {"t\x81", "b", "byte 0x81" + joined},
        {"\x85\x40", "b\x81", "byte 0x85" + cannot + " as UTF-8; in code page 932: byte 0x81" + joined},
    };
    for (const auto &row : rows) {
        writeBytes(dir / "r.ugi",
                   std::string("[Header]\r\nTitle=") + row.title +
                       "\r\nCopyright=\r\nWinner=B,C\r\nPlayerB=a,5d,\r\nPlayerW=" + row.white +
                       ",4d,\r\nPlace=p\r\nDate=2001/05/03,\r\nSize=9\r\nHdcp=0,6.5\r\n[Data]\r\n");
        const Outcome outcome = picture(dir / "r.ugi", dir / "r.png");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, (dir / "r.ugi").string() + ": " + row.reason + "\n");
    }
}
