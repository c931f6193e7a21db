// Writes that fail, through the library and through ugi2sgf: each is reported with the system's
// reason, the previous file stays as it was and no temporary file is left beside it.
#include "../support/process.h"
#include "records.h"

#include "../support/testfiles.h"

#include "groupwriter.h"
#include "writersystem.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

const std::string ugi2sgf = UGI2SGF;

std::string writeFailure(const std::filesystem::path &target, const std::u16string &record)
{
    try {
        quillarn::writeRecordFile(target, record);
    } catch (const quillarn::CommandFailure &failure) {
        return failure.reason();
    }
    return "(no failure)";
}

unsigned modeOf(const std::filesystem::path &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

TEST(WriteFaults, EachIsReportedAndLeavesThePreviousFileAndNoTemporaryFile)
{
    // Root writes into any folder whatever its permission bits, so as root the read-only folder is
    // written to as the user nobody.
    if (!canRunUnprivileged())
        GTEST_SKIP() << "running as root and there is no user nobody to write as";
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0755);
    // Long enough to pass the file size limit below.
    UgiFields fields;
    fields.data = moveLines(20000, true);
    const auto source = dir / "source.ugi";
    writeBytes(source, ugiSource(fields));
    ::chmod(source.c_str(), 0644);
    const std::u16string record = quillarn::translateRecord(quillarn::readSourceFile(source));

    std::filesystem::create_directories(dir / "read-only");
    writeBytes(dir / "read-only" / "keep.sgf", "previous record");
    ::chmod((dir / "read-only").c_str(), 0555);
    std::filesystem::create_directories(dir / "limited");
    writeBytes(dir / "limited" / "keep.sgf", "previous record");
    std::filesystem::create_directories(dir / "folders" / "out.sgf");
    // A link that another user left at the output in a shared folder (sticky and writable by all,
    // as /tmp), to a file of the user writing. Only root can make a link another user's.
    std::filesystem::create_directories(dir / "shared");
    ::chmod((dir / "shared").c_str(), 01777);
    writeBytes(dir / "secret.txt", "private notes");
    std::filesystem::create_symlink("../secret.txt", dir / "shared" / "game.sgf");
    const bool linkOfAnother = ::lchown((dir / "shared" / "game.sgf").c_str(), 65534, 65534) == 0;

    struct Case {
        std::string name;
        std::filesystem::path target;
        ChildSetup setup;
        std::string reason;
    };
    ChildSetup unprivileged;
    unprivileged.unprivileged = true;
    ChildSetup limited;
    limited.fileSizeLimit = 64 << 10;
    std::vector<Case> cases = {
        {"destination folder missing", dir / "missing" / "out.sgf", {}, "No such file or directory"},
        {"destination folder read-only", dir / "read-only" / "keep.sgf", unprivileged, "Permission denied"},
        {"destination is a folder", dir / "folders" / "out.sgf", {}, "Is a directory"},
        {"file size limit reached mid-write", dir / "limited" / "keep.sgf", limited, "File too large"},
    };
    if (linkOfAnother) {
        cases.push_back({"destination is another user's link in a shared folder",
                         dir / "shared" / "game.sgf",
                         {},
                         "the output is another user's symbolic link in a shared folder (sticky, writable by "
                         "all); not followed"});
    }
    const std::string before = listing(dir.path());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = c.target.parent_path();
        const bool hadFolder = std::filesystem::exists(folder);
        const std::string folderBefore = hadFolder ? listing(folder) : "";
        const bool wasFile = std::filesystem::is_regular_file(c.target);
        const std::string previous = wasFile ? readBytes(c.target) : "";

        EXPECT_EQ(inChild([&] { return writeFailure(c.target, record); }, c.setup), c.reason);
        const Outcome printed = run(
            ugi2sgf, {"--encoding", "cp932", "--force", "-o", c.target.string(), source.string()}, c.setup);
        EXPECT_EQ(printed.status, 1);
        EXPECT_EQ(printed.out, "");
        // The message names the output that could not be written after the source.
        EXPECT_EQ(printed.err,
                  source.string() + ": cannot write " + c.target.string() + ": " + c.reason + "\n");

        EXPECT_EQ(listing(dir.path()), before);
        EXPECT_EQ(std::filesystem::exists(folder), hadFolder);
        if (hadFolder) {
            EXPECT_EQ(listing(folder), folderBefore);
        }
        if (wasFile) {
            EXPECT_EQ(readBytes(c.target), previous);
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folders" / "out.sgf"));
    EXPECT_EQ(readBytes(dir / "limited" / "keep.sgf"), "previous record");
}

TEST(WriteFaults, StandardOutputToAFullDeviceExitsOneWithTheReason)
{
    ScratchDir dir;
    writeBytes(dir / "source.ugi", ugiSource());
    ChildSetup full;
    full.standardOutput = "/dev/full";
    const Outcome printed = run(ugi2sgf, {"--encoding", "cp932", (dir / "source.ugi").string()}, full);
    EXPECT_EQ(printed.status, 1);
    EXPECT_EQ(printed.err,
              (dir / "source.ugi").string() + ": cannot write standard output: No space left on device\n");
}

TEST(WriteFaults, ReplacingAFileKeepsItsPermissionBits)
{
    ScratchDir dir;
    writeBytes(dir / "source.ugi", ugiSource());
    const std::string expected = recordFileBytesOf(ugiSource());
    const std::u16string record = quillarn::translateRecord(quillarn::decodeAnsi(ugiSource()));
    for (const unsigned mode : {0600u, 0640u, 0604u, 0444u, 0755u}) {
        SCOPED_TRACE(mode);
        const auto byLibrary = dir / "library.sgf";
        const auto byUgi2sgf = dir / "ugi2sgf.sgf";
        for (const auto &target : {byLibrary, byUgi2sgf}) {
            writeBytes(target, "previous record");
            ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        }
        quillarn::writeRecordFile(byLibrary, record);
        const Outcome printed = run(ugi2sgf, {"--encoding", "cp932", "--force", "-o", byUgi2sgf.string(),
                                              (dir / "source.ugi").string()});
        EXPECT_EQ(printed.status, 0) << printed.err;
        for (const auto &target : {byLibrary, byUgi2sgf}) {
            EXPECT_EQ(modeOf(target), mode) << target;
            EXPECT_TRUE(readBytes(target) == expected) << target;
        }
    }
    EXPECT_EQ(listing(dir.path()), "library.sgf source.ugi ugi2sgf.sgf ");
}

// A group reaches the disk before any of its files is renamed into place: when the flush fails,
// every file of the group fails with the reason and every target stays as it was.
TEST(WriteFaults, AFailedGroupFlushFailsEveryFileOfTheGroupAndLeavesTheirTargets)
{
    ScratchDir dir;
    writeBytes(dir / "a.sgf", "previous record");
    quillarn::LeftoverTemporaries leftovers;
    using Results = std::vector<quillarn::GroupWriter::Result>;
    {
        struct FailingFlush : quillarn::WriterSystem {
            int syncfs(int) override
            {
                errno = EIO;
                return -1;
            }
        } failingFlush;
        quillarn::GroupLimits failing;
        failing.system = &failingFlush;
        quillarn::GroupWriter group(leftovers, failing);
        group.add(7, dir / "a.sgf", "new a");
        group.add(8, dir / "b.sgf", "new b");
        EXPECT_EQ(group.commit(), (Results{{7, "Input/output error"}, {8, "Input/output error"}}));
        EXPECT_EQ(readBytes(dir / "a.sgf"), "previous record");
        EXPECT_EQ(listing(dir.path()), "a.sgf ");
    }
    for (const auto method : {quillarn::FlushMethod::FileSystem, quillarn::FlushMethod::EachFile}) {
        quillarn::GroupLimits limits;
        limits.method = method;
        quillarn::GroupWriter group(leftovers, limits);
        group.add(1, dir / "a.sgf", "new a");
        group.add(2, dir / "b.sgf", "new b");
        EXPECT_EQ(group.commit(), (Results{{1, ""}, {2, ""}}));
        EXPECT_EQ(readBytes(dir / "a.sgf"), "new a");
        EXPECT_EQ(readBytes(dir / "b.sgf"), "new b");
        EXPECT_EQ(listing(dir.path()), "a.sgf b.sgf ");
        std::filesystem::remove(dir / "b.sgf");
    }
}
