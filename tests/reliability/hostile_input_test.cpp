// Hostile sources through the library and through ugi2sgf: each converts to a well-formed record or
// fails with its reason and writes nothing, without a crash, a hang or unbounded memory.
#include "../support/process.h"
#include "records.h"

#include "../support/sgfcheck.h"
#include "../support/testfiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <sys/stat.h>

using namespace testing_support;

namespace {

const std::string ugi2sgf = UGI2SGF;

// Bytes from a fixed generator, the same on every system.
std::string randomBytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (auto &byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

std::string utf16(const std::string &ascii, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii) {
        bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return bytes;
}

std::string utf32(const std::string &ascii, bool bigEndian)
{
    std::string bytes = bigEndian ? std::string("\0\0\xFE\xFF", 4) : std::string("\xFF\xFE\0\0", 4);
    for (const char c : ascii)
        bytes += bigEndian ? std::string{'\0', '\0', '\0', c} : std::string{c, '\0', '\0', '\0'};
    return bytes;
}

// The value of property id in the record file bytes (the first one, escapes kept).
std::string propertyValue(const std::string &record, const std::string &id)
{
    const std::size_t open = record.find(id + "[");
    if (open == std::string::npos)
        return "(no " + id + ")";
    std::size_t end = open + id.size() + 1;
    while (end < record.size() && record[end] != ']')
        end += record[end] == '\\' ? 2 : 1;
    return record.substr(open + id.size() + 1, end - open - id.size() - 1);
}

struct SourceCase {
    std::string name;
    std::string bytes;
    std::string reason; // empty: the source converts
    std::function<void(const std::string &record)> check = [](const std::string &) {};
};

// Converts source through the library, through ugi2sgf to standard output and through ugi2sgf -o
// over a previous file; they must agree, and a failure must leave the previous file as it was.
void expectOutcome(const SourceCase &c)
{
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const auto source = dir / "source.ugi";
    const auto target = dir / "target.sgf";
    writeBytes(source, c.bytes);
    writeBytes(target, "previous");

    const Conversion library = convertWithLibrary(source);
    const Outcome printed = run(ugi2sgf, {"--encoding", "cp932", source.string()});
    const Outcome written =
        run(ugi2sgf, {"--encoding", "cp932", "--force", "-o", target.string(), source.string()});
    EXPECT_EQ(listing(dir.path()), "source.ugi target.sgf ");
    if (!c.reason.empty()) {
        EXPECT_EQ(library.reason, c.reason);
        EXPECT_EQ(printed.status, 1);
        EXPECT_EQ(printed.out, "");
        EXPECT_EQ(printed.err, source.string() + ": " + c.reason + "\n");
        EXPECT_EQ(written.status, 1);
        EXPECT_EQ(written.err, printed.err);
        EXPECT_EQ(readBytes(target), "previous");
        return;
    }
    ASSERT_EQ(library.reason, "");
    EXPECT_EQ(sgfFileProblem(library.bytes), "");
    EXPECT_EQ(printed.status, 0) << printed.err;
    EXPECT_TRUE(printed.out == library.bytes) << "ugi2sgf printed other bytes than the library made";
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_TRUE(readBytes(target) == library.bytes) << "ugi2sgf -o wrote other bytes than the library made";
    c.check(library.bytes);
}

} // namespace

TEST(HostileSource, EachConvertsOrFailsWithItsReasonAndWritesNothing)
{
    UgiFields f;
    std::vector<SourceCase> cases;
    cases.push_back({"empty file", "", "not a UGI record: no [Header] section"});
    cases.push_back({"a file of NULs", std::string(1 << 20, '\0'), "binary data, not a UGI record"});
    cases.push_back({"random binary", randomBytes(256 << 10, 5), "binary data, not a UGI record"});
    cases.push_back({"UTF-16LE with BOM", utf16(ugiSource(), false), "UTF-16 text, not a UGI record"});
    cases.push_back({"UTF-16BE with BOM", utf16(ugiSource(), true), "UTF-16 text, not a UGI record"});
    cases.push_back(
        {"UTF-16BE without BOM", utf16(ugiSource(), true).substr(2), "UTF-16 text, not a UGI record"});
    cases.push_back({"UTF-32LE with BOM", utf32(ugiSource(), false), "UTF-32 text, not a UGI record"});
    cases.push_back({"UTF-32BE with BOM", utf32(ugiSource(), true), "UTF-32 text, not a UGI record"});
    cases.push_back(
        {"UTF-32LE without BOM", utf32(ugiSource(), false).substr(4), "UTF-32 text, not a UGI record"});

    // UTF-8 is read as UTF-8 (a byte-order mark, or a character of three bytes, tells it) and written
    // in code page 932; a character that code page 932 cannot hold, or a byte after the mark that is
    // not UTF-8, fails the record.
    f = {};
    f.playerB = "\xE9\xBB\x92\xE7\x94\xB0,3d,"; // 黒田 in UTF-8
    f.playerW = "\xE7\x99\xBD\xE7\x9F\xB3,2d,"; // 白石
    cases.push_back({"UTF-8 with BOM", "\xEF\xBB\xBF" + ugiSource(f), "", [](const std::string &record) {
                         EXPECT_EQ(propertyValue(record, "PB"), "\x8D\x95\x93\x63");
                         EXPECT_EQ(propertyValue(record, "PW"), "\x94\x92\x90\xCE");
                     }});
    // 本因坊: code page 932 would read its bytes as other characters and a lone lead byte 0x8A.
    f.playerB = "\xE6\x9C\xAC\xE5\x9B\xA0\xE5\x9D\x8A,9d,";
    cases.push_back({"UTF-8 without BOM", ugiSource(f), "", [](const std::string &record) {
                         EXPECT_EQ(propertyValue(record, "PB"), "\x96\x7B\x88\xF6\x96\x56");
                     }});
    f.title = "caf\xC3\xA9"; // é, in a record that 本因坊 tells as UTF-8
    cases.push_back(
        {"UTF-8 with a character code page 932 cannot hold", ugiSource(f),
         "character U+00E9 \"\xC3\xA9\" cannot be written in code page 932 (--encoding utf-8 writes it)"});
    f = {};
    f.place = "\xE6\x9D\xB1\xE4\xBA\xAC\x93\x73"; // 東京 in UTF-8, then 都 in code page 932
    cases.push_back(
        {"UTF-8 with BOM and a byte that is not UTF-8", "\xEF\xBB\xBF" + ugiSource(f),
         "line 7, column 13: byte 0x93 is not valid UTF-8 (the source starts with a UTF-8 byte-order mark)"});
    // A stray control character does not make such a text binary data; a NUL byte does.
    f.title = "Final\x1B";
    cases.push_back(
        {"UTF-8 with BOM, a control character and a byte that is not UTF-8", "\xEF\xBB\xBF" + ugiSource(f),
         "line 7, column 13: byte 0x93 is not valid UTF-8 (the source starts with a UTF-8 byte-order mark)"});
    cases.push_back({"binary data after a UTF-8 byte-order mark", "\xEF\xBB\xBF" + randomBytes(4096, 7),
                     "binary data, not a UGI record"});

    f = {};
    f.lineEnd = "\n";
    cases.push_back({"LF line ends", ugiSource(f), ""});
    f.lineEnd = "\r";
    cases.push_back({"CR line ends", ugiSource(f), ""});
    f.lineEnd = "\n\r";
    cases.push_back(
        {"LF CR line ends", ugiSource(f), "the file has no CR LF line ends (it mixes LF and CR)"});

    // A long value, full of the characters that must be escaped, and double-byte characters.
    f = {};
    f.title.clear();
    for (int i = 0; i < 10000; ++i)
        f.title += "]\\\x8D\x95x"; // 4 characters: "]", "\", 黒, "x"
    cases.push_back({"title of 40,000 characters", ugiSource(f), "", [](const std::string &record) {
                         std::string escaped;
                         for (int i = 0; i < 10000; ++i)
                             escaped += "\\]\\\\\x8D\x95x";
                         EXPECT_TRUE(propertyValue(record, "GN") == escaped);
                     }});

    f = {};
    f.date = std::string(40000, '/') + ",";
    cases.push_back({"date of 40,000 \"/\"", ugiSource(f),
                     "\"Date=\" value of 40000 characters is too long (at most 32766)"});
    f.date = std::string(32767, '/') + ",";
    cases.push_back({"date of 32,767 \"/\"", ugiSource(f),
                     "\"Date=\" value of 32767 characters is too long (at most 32766)"});
    f.date = std::string(32766, '/') + ",";
    cases.push_back({"date of 32,766 \"/\"", ugiSource(f), "", [](const std::string &record) {
                         EXPECT_TRUE(propertyValue(record, "DT") == std::string(32766, '-'));
                     }});

    f = {};
    f.data = "QD,B1\r\n" + std::string(32766, 'x') + ",B\r\n";
    cases.push_back({"first comma at position 32,767", ugiSource(f),
                     "line 13 (move 2): comma at position 32767, beyond 32766"});
    f.data = "QD,B1\r\n" + std::string(39998, 'x') + ",B\r\n";
    cases.push_back({"first comma at position 39,999", ugiSource(f),
                     "line 13 (move 2): comma at position 39999, beyond 32766"});
    f.data = "QD,B1\r\n" + std::string(32763, 'x') + "PD,W\r\n";
    cases.push_back({"first comma at position 32,766", ugiSource(f), "", [](const std::string &record) {
                         EXPECT_NE(record.find(";B[qd];W[pd])"), std::string::npos);
                     }});

    for (const SourceCase &c : cases)
        expectOutcome(c);
}

TEST(HostileSource, RandomBytesInsideARecordNeverBreakTheRecord)
{
    // The basic game with bytes overwritten at random: some still convert, most fail at some
    // key or line. The library and ugi2sgf must agree and a record must be well-formed.
    const std::string base = ugiSource();
    std::mt19937 random(2024);
    int converted = 0;
    for (int round = 0; round < 40; ++round) {
        std::string bytes = base;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < changes; ++i)
            bytes[random() % bytes.size()] = static_cast<char>(random() & 0xFF);
        ScratchDir dir;
        writeBytes(dir / "source.ugi", bytes);
        const Conversion library = convertWithLibrary(dir / "source.ugi");
        const Outcome printed = run(ugi2sgf, {"--encoding", "cp932", (dir / "source.ugi").string()});
        SCOPED_TRACE(testing::PrintToString(bytes));
        if (library.reason.empty()) {
            ++converted;
            EXPECT_EQ(sgfFileProblem(library.bytes), "");
            EXPECT_EQ(printed.status, 0);
            EXPECT_TRUE(printed.out == library.bytes);
        } else {
            EXPECT_EQ(printed.status, 1);
            EXPECT_EQ(printed.out, "");
            EXPECT_EQ(printed.err, (dir / "source.ugi").string() + ": " + library.reason + "\n");
        }
    }
    EXPECT_GT(converted, 0) << "no round exercised a record that converts";
}

TEST(HostileSource, TwoHundredThousandMovesConvertInBoundedTimeAndMemory)
{
    ScratchDir dir;
    UgiFields f;
    f.data = moveLines(200000);
    writeBytes(dir / "long.ugi", ugiSource(f));

    // Linear work takes well under a second even under the sanitizers; copying the rest of the text
    // once per move takes minutes.
    const auto start = std::chrono::steady_clock::now();
    const Conversion library = convertWithLibrary(dir / "long.ugi");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(library.reason, "");
    EXPECT_LT(seconds, 20.0);
    EXPECT_EQ(sgfFileProblem(library.bytes), "");
    std::size_t nodes = 0;
    for (std::size_t at = 0; (at = library.bytes.find(";B[qd];W[dp]", at)) != std::string::npos; at += 12)
        ++nodes;
    EXPECT_EQ(nodes, 100000u);

    ChildSetup setup;
    setup.timeoutSeconds = 60;
    const Outcome printed = run(ugi2sgf, {"--encoding", "cp932", (dir / "long.ugi").string()}, setup);
    EXPECT_FALSE(printed.killed) << "ugi2sgf took longer than a minute";
    EXPECT_EQ(printed.status, 0);
    EXPECT_TRUE(printed.out == library.bytes);
    // The source is 2.6 MB; even several copies of it as text stay far below this.
    EXPECT_LT(printed.peakMemoryKb, 512 * 1024);
}

TEST(HostileSource, SourceOverThe32BitLimitIsRefusedBySizeWithoutReadingIt)
{
    ScratchDir dir;
    const auto huge = dir / "huge.ugi";
    writeBytes(huge, "[Header]\r\n");
    std::error_code error;
    std::filesystem::resize_file(huge, 1ull << 31, error); // sparse: no disk space used
    if (error)
        GTEST_SKIP() << "this file system cannot hold a sparse file of 2 GiB: " << error.message();
    const std::string reason = "file of 2147483648 bytes is too large (at most 2147483647 bytes)";

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(convertWithLibrary(huge).reason, reason);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);

    // Reading it would take at least 2 GiB of memory (6 GiB with its text).
    const Outcome printed =
        run(ugi2sgf, {"--encoding", "cp932", huge.string(), "-o", (dir / "out.sgf").string()});
    EXPECT_EQ(printed.status, 1);
    EXPECT_EQ(printed.err, huge.string() + ": " + reason + "\n");
    EXPECT_LT(printed.peakMemoryKb, 256 * 1024);
    EXPECT_EQ(listing(dir.path()), "huge.ugi ");
}

TEST(HostileSource, FolderFifoAndMissingPathAreReportedWithoutWaiting)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "folder.ugi");
    ASSERT_EQ(::mkfifo((dir / "fifo.ugi").c_str(), 0600), 0);
    const struct {
        std::string name;
        std::string reason;
    } cases[] = {
        {"folder.ugi", "Is a directory"},
        {"fifo.ugi", "not a regular file"}, // nothing ever writes to it: opening must not wait
        {"missing.ugi", "No such file or directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / c.name;
        ChildSetup setup;
        setup.timeoutSeconds = 20;
        EXPECT_EQ(inChild([&] { return convertWithLibrary(path).reason; }, setup), c.reason);
        const Outcome printed =
            run(ugi2sgf, {"--encoding", "cp932", path.string(), "-o", (dir / "out.sgf").string()}, setup);
        EXPECT_FALSE(printed.killed);
        EXPECT_EQ(printed.out, "");
        if (c.name == "folder.ugi") {
            // A folder is what batch mode converts: ugi2sgf answers it as a usage question.
            EXPECT_NE(printed.status, 0);
            EXPECT_NE(printed.err.find(path.string()), std::string::npos) << printed.err;
        } else {
            EXPECT_EQ(printed.status, 1);
            EXPECT_EQ(printed.err, path.string() + ": " + c.reason + "\n");
        }
    }
    EXPECT_EQ(listing(dir.path()), "fifo.ugi folder.ugi ");
}

TEST(HostileSource, UnreadableSourceIsReported)
{
    // Root reads whatever the permission bits say, so as root the reads run as the user nobody.
    if (!canRunUnprivileged())
        GTEST_SKIP() << "running as root and there is no user nobody to read as";
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const auto source = dir / "locked.ugi";
    writeBytes(source, ugiSource());
    ASSERT_EQ(::chmod(source.c_str(), 0), 0);

    ChildSetup unprivileged;
    unprivileged.unprivileged = true;
    EXPECT_EQ(inChild([&] { return convertWithLibrary(source).reason; }, unprivileged), "Permission denied");
    const Outcome printed = run(ugi2sgf, {"--encoding", "cp932", source.string()}, unprivileged);
    EXPECT_EQ(printed.status, 1);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err, source.string() + ": Permission denied\n");
}

TEST(HostilePaths, JapaneseSpacesSeveralDotsAndALeadingDash)
{
    ScratchDir dir;
    const std::string expected = recordFileBytesOf(ugiSource());
    const std::string folder = "棋譜 フォルダ";
    std::filesystem::create_directory(dir / folder);
    const struct {
        std::string source;
        std::string target;
    } names[] = {
        {"第1局 黒 対 白.ugi", "第1局 黒 対 白.sgf"},
        {"game.v1.2..final.ugi", "game.v1.2..final.sgf"},
        {"-先番 .ugi", "-結果.sgf"},
        {"..ugi", "...sgf"},
    };
    for (const auto &n : names) {
        SCOPED_TRACE(n.source);
        const auto source = dir / folder / n.source;
        const auto target = dir / folder / n.target;
        writeBytes(source, ugiSource());

        quillarn::writeRecordFile(target, quillarn::translateRecord(quillarn::readSourceFile(source)));
        EXPECT_TRUE(readBytes(target) == expected);
        std::filesystem::remove(target);

        // By full path, and by the bare name from its folder, where a leading dash needs "--".
        Outcome printed = run(ugi2sgf, {"--encoding", "cp932", "-o", target.string(), "--", source.string()});
        EXPECT_EQ(printed.status, 0) << printed.err;
        EXPECT_TRUE(readBytes(target) == expected);
        std::filesystem::remove(target);
        ChildSetup inFolder;
        inFolder.workingDirectory = (dir / folder).string();
        printed = run(ugi2sgf, {"--encoding", "cp932", "-o", n.target, "--", n.source}, inFolder);
        EXPECT_EQ(printed.status, 0) << printed.err;
        EXPECT_TRUE(readBytes(target) == expected);
        printed = run(ugi2sgf, {"--encoding", "cp932", "--", n.source}, inFolder);
        EXPECT_TRUE(printed.out == expected);
        std::filesystem::remove(target);
    }
    // A failure names the file as it was given.
    ChildSetup inFolder;
    inFolder.workingDirectory = (dir / folder).string();
    const Outcome missing = run(ugi2sgf, {"--encoding", "cp932", "--", "-無い ファイル..ugi"}, inFolder);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "-無い ファイル..ugi: No such file or directory\n");
}
