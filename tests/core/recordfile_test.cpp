// Reading sources and writing records: system reasons, and a write that fails leaves the old file
// and no temporary file behind.
#include "../support/referencetranslator.h"
#include "filesystem.h"
#include "recordfile.h"
#include "recordname.h"
#include "text.h"

#include "../support/testfiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace quillarn;
using testing_support::listing;
using testing_support::readBytes;
using testing_support::ScratchDir;
using testing_support::writeBytes;

namespace {

std::string readFailure(const std::filesystem::path &path)
{
    try {
        readFileBytes(path);
    } catch (const CommandFailure &failure) {
        return failure.reason();
    }
    return "(no failure)";
}

std::string writeFailure(const std::filesystem::path &path, std::u16string_view record)
{
    try {
        writeRecordFile(path, record);
    } catch (const CommandFailure &failure) {
        return failure.reason();
    }
    return "(no failure)";
}

} // namespace

TEST(ReadSource, ReadsBytesAndDecodes)
{
    ScratchDir dir;
    writeBytes(dir / "a.ugi", std::string("Title=\x8d\x95\r\n\x85", 11));
    EXPECT_EQ(readSourceFile(dir / "a.ugi"), u"Title=黒\r\n\xdc85");
    writeBytes(dir / "empty.ugi", "");
    EXPECT_EQ(readFileBytes(dir / "empty.ugi"), "");
    // A name in any script, whatever the system's code page.
    const auto named = dir.path() / std::filesystem::u8path(u8"棋譜 한국 é.ugi");
    writeBytes(named, "Title=\x8d\x95\r\n");
    EXPECT_EQ(readSourceFile(named), u"Title=黒\r\n");

    // One buffer for sources of every size, large ones in memory of their own kind, each read whole.
    ReadBuffer buffer;
    for (const std::size_t size :
         {std::size_t{100}, std::size_t{9} << 20, std::size_t{5}, (std::size_t{13} << 20) + 3}) {
        std::string bytes(size, 'x');
        bytes.back() = static_cast<char>('a' + size % 26);
        writeBytes(dir / "sized.ugi", bytes);
        EXPECT_TRUE(readFileInto(dir / "sized.ugi", buffer) == bytes) << size;
    }
}

TEST(ReadSource, FailuresCarryTheSystemsReason)
{
    ScratchDir dir;
    EXPECT_EQ(readFailure(dir / "missing.ugi"), "No such file or directory");
    EXPECT_EQ(readFailure(dir.path()), "Is a directory");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "fifo.ugi").c_str(), 0600), 0);
    EXPECT_EQ(readFailure(dir / "fifo.ugi"), "not a regular file");
#ifdef __linux__
    // A file that holds more than its size said when it was opened: what was read is not all of it.
    EXPECT_EQ(readFailure("/proc/self/status"), "the file changed while it was read");
#endif
#else
    EXPECT_EQ(readFailure("NUL"), "not a regular file");
    writeBytes(dir / "locked.ugi", "Title=\r\n");
    const HANDLE locked = CreateFileW((dir / "locked.ugi").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(readFailure(dir / "locked.ugi"), "the file is in use by another program");
    CloseHandle(locked);
#endif
}

// The charset leads the root node: Shift_JIS unless a character only code page 932 has is written.
TEST(WriteRecord, WritesTheRecordWithItsCharsetAndOneCrLfInCodePage932)
{
    ScratchDir dir;
    writeRecordFile(dir / "a.sgf", u"(;PB[黒])");
    EXPECT_EQ(readBytes(dir / "a.sgf"), "(;CA[Shift_JIS]PB[\x8d\x95])\r\n");
    writeRecordFile(dir / "b.sgf", u"(;PB[髙];C[\u2460])");
    EXPECT_EQ(readBytes(dir / "b.sgf"), "(;CA[CP932]PB[\xfb\xfc];C[\x87\x40])\r\n");
    EXPECT_EQ(listing(dir.path()), "a.sgf b.sgf ");
    EXPECT_EQ(writeFailure(dir / "c.sgf", u"PB[黒]"), "the record has no root node to carry its charset");
    writeRecordFile(dir.path() / std::filesystem::u8path(u8"棋譜 한국 é.sgf"), u"(;)");
    EXPECT_EQ(listing(dir.path()), u8"a.sgf b.sgf 棋譜 한국 é.sgf ");
}

#ifndef _WIN32

TEST(WriteRecord, ReplacingAFileKeepsItsPermissionBits)
{
    ScratchDir dir;
    writeBytes(dir / "a.sgf", "old");
    ASSERT_EQ(::chmod((dir / "a.sgf").c_str(), 0640), 0);
    writeRecordFile(dir / "a.sgf", u"(;)");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "a.sgf").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(readBytes(dir / "a.sgf"), "(;CA[Shift_JIS])\r\n");

    const mode_t mask = ::umask(022);
    writeRecordFile(dir / "new.sgf", u"(;)");
    ::umask(mask);
    ASSERT_EQ(::stat((dir / "new.sgf").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}
#endif

TEST(WriteRecord, AFailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    ScratchDir dir;
    writeBytes(dir / "keep.sgf", "previous record");
    // A character the code page cannot hold fails before anything is written.
    EXPECT_EQ(writeFailure(dir / "keep.sgf", u"(;GN[\u00e9])"),
              "character U+00E9 \"é\" cannot be written in code page 932");
    EXPECT_EQ(readBytes(dir / "keep.sgf"), "previous record");

    std::filesystem::create_directory(dir / "folder.sgf");
    EXPECT_EQ(writeFailure(dir / "folder.sgf", u"(;)"), "Is a directory");
    EXPECT_EQ(writeFailure(dir / "missing" / "a.sgf", u"(;)"), "No such file or directory");
    EXPECT_EQ(listing(dir.path()), "folder.sgf keep.sgf ");
#ifdef _WIN32
    // A read-only file, and a file another program holds open without sharing it, stay as they were.
    const auto readOnly = dir / "read-only.sgf";
    writeBytes(readOnly, "previous record");
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(writeFailure(readOnly, u"(;)"), "the file is read-only");
    EXPECT_EQ(readBytes(readOnly), "previous record");
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    const HANDLE locked = CreateFileW((dir / "keep.sgf").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_EQ(writeFailure(dir / "keep.sgf", u"(;)"), "the file is in use by another program");
    CloseHandle(locked);
    EXPECT_EQ(readBytes(dir / "keep.sgf"), "previous record");
    EXPECT_EQ(listing(dir.path()), "folder.sgf keep.sgf read-only.sgf ");
#endif
}

#ifndef _WIN32

TEST(WriteRecord, ThroughALinkTheLinkedFileIsReplaced)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "records");
    writeBytes(dir / "records" / "a.sgf", "old");
    std::filesystem::create_symlink("records/a.sgf", dir / "link.sgf");
    writeRecordFile(dir / "link.sgf", u"(;)");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.sgf"));
    EXPECT_EQ(readBytes(dir / "records" / "a.sgf"), "(;CA[Shift_JIS])\r\n");
    EXPECT_EQ(listing(dir / "records"), "a.sgf ");
}

#endif

// A write that was killed leaves its temporary file; the next write of the same target removes it,
// and nothing else: not other names, not the leftover of another target (its hash part, after
// ".quillarn-", is not a.sgf's "oppbf70a"), not a file of that name that is not surely the writer's
// (a user's bytes, another name for it, a link, a folder, another user's), not one whose lock a
// writer holds (one alive now may be filling it, however long it has been stopped). A lock nobody
// holds is a leftover too.
TEST(WriteRecord, OnlyTheWritersOwnLeftoverTemporaryFilesAreRemoved)
{
    ScratchDir dir;
    std::set<std::string> kept = {"a.sgf"};
    const auto plant = [&](const std::string &name, const std::string &bytes, bool leftover) {
        writeBytes(dir / name, bytes);
        std::filesystem::last_write_time(dir / name, std::filesystem::file_time_type::clock::now() -
                                                         std::chrono::hours(1));
        if (!leftover)
            kept.insert(name);
    };
    for (const char *name : {".quillarn-oppbf70aAbCd01.tmp", ".quillarn-oppbf70a000000.tmp"})
        plant(name, "(;CA[UTF-8]GN[", true);
    plant(".quillarn-oppbf70aZZZZZZ.tmp", "", true); // killed before its first bytes
    for (const char *name : {".a.sgf.2024v2", ".a.sgf.backup", ".quillarn-oppbf70aAAAAAA.tmp"})
        plant(name, "precious", false);
    for (const char *name :
         {".a.sgf.tTMXEj", ".quillarn-GGGGGGGGGGGG.tmp", ".quillarn-eqvemylrGGGGGG.tmp",
          ".quillarn-OPPBF70AGGGGGG.tmp", ".quillarn-oppbf70aGG-GGG.tmp", ".quillarn-oppbf70aGGGGG.tmp",
          ".quillarn-oppbf70aGGGGGG.tmp.x", ".quillarn-oppbf70aGGGGGGG.tmp", "_quillarn-oppbf70aGGGGGG.tmp"})
        plant(name, "(;CA[UTF-8]", false);
    plant(".quillarn-oppbf70aBBBBBB.tmp", "(;CA[UTF-8]", false); // with another name
    std::filesystem::create_hard_link(dir / ".quillarn-oppbf70aBBBBBB.tmp", dir / "b.sgf");
    kept.insert("b.sgf");
    std::filesystem::create_directory(dir / ".quillarn-oppbf70aDDDDDD.tmp");
    kept.insert(".quillarn-oppbf70aDDDDDD.tmp");
    writeBytes(dir / ".quillarn-oppbf70aEEEEEE.tmp", "(;CA[UTF-8]"); // being written now
    FileSystem &system = systemFileSystem();
    const FolderPtr folder = openFolderOf(system, dir / "a.sgf");
    File lock;
    const std::filesystem::path lockName = ".quillarn-EEEE.lock";
    ASSERT_FALSE(system.createLock(*folder, lockName.c_str(), lock));
    kept.insert({".quillarn-oppbf70aEEEEEE.tmp", ".quillarn-EEEE.lock"});
    writeBytes(dir / ".quillarn-Xy12.lock", ""); // of a writer killed
#ifndef _WIN32
    plant("c.sgf", "(;CA[UTF-8]", false);
    std::filesystem::create_symlink("c.sgf", dir / ".quillarn-oppbf70aCCCCCC.tmp");
    ASSERT_EQ(::mkfifo((dir / ".quillarn-oppbf70aFFFFFF.tmp").c_str(), 0600), 0);
    kept.insert({".quillarn-oppbf70aCCCCCC.tmp", ".quillarn-oppbf70aFFFFFF.tmp"});
    if (::geteuid() == 0) {
        plant(".quillarn-oppbf70aHHHHHH.tmp", "(;CA[UTF-8]", false); // another user's
        ASSERT_EQ(::chown((dir / ".quillarn-oppbf70aHHHHHH.tmp").c_str(), 65534, 65534), 0);
    }
#endif

    writeRecordFile(dir / "a.sgf", u"(;)");
    lock.close();
    std::string expected;
    for (const std::string &name : kept)
        expected += name + " ";
    EXPECT_EQ(listing(dir.path()), expected);
    EXPECT_EQ(readBytes(dir / ".quillarn-oppbf70aAAAAAA.tmp"), "precious");
    EXPECT_TRUE(isTemporaryFileName(".quillarn-oppbf70aAbCd01.tmp"));
    EXPECT_FALSE(isTemporaryFileName(".quillarn-oppbf70aGGGGG.tmp"));
}

// An archive's entry unpacks where it belongs on every system: never above its folder, never split
// at a backslash, never refused for its length, its extension kept.
TEST(RecordNames, ArchivePathsAreSafeOnEverySystem)
{
    const std::string kanji = "\xE6\xA3\x8B"; // 棋, three bytes
    std::string long253;
    for (int i = 0; i < 83; ++i)
        long253 += kanji;
    long253 += "ab"; // 251 bytes, then ".ugi"
    const std::pair<std::string, std::string> table[] = {
        {"t/../../../../escape.ugi", "t/__/__/__/__/escape.sgf"},
        {"..\\..\\x.ugi", ".._.._x.sgf"},
        {"/abs//a/./b.UGI", "abs/a/_/b.sgf"},
        {"a\x1b[2Jb\x7f.ugi", "a_[2Jb_.sgf"},
        {"d/" + long253 + ".ugi", "d/" + long253 + ".sgf"},
        {"d/" + long253 + "cd.ugi", "d/" + long253 + ".sgf"},
        {long253 + "cdefg/" + kanji + "/x.ugi", long253 + "cdef/" + kanji + "/x.sgf"},
    };
    for (const auto &[source, entry] : table)
        EXPECT_EQ(archivePath(source), entry) << source;
    // A cut never splits a character: 255 bytes of kanji and ".sgf" leave 251 for the name, 83 kanji.
    std::string kanjiOnly;
    for (int i = 0; i < 90; ++i)
        kanjiOnly += kanji;
    EXPECT_EQ(archivePath(kanjiOnly + ".ugi"), kanjiOnly.substr(0, 249) + ".sgf");
}

#ifndef _WIN32

TEST(WriteRecord, ReplacingAnotherUsersFileKeepsItsOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can write a file that belongs to another user";
    ScratchDir dir;
    writeBytes(dir / "a.sgf", "old");
    ASSERT_EQ(::chown((dir / "a.sgf").c_str(), 65534, 65534), 0);
    writeRecordFile(dir / "a.sgf", u"(;)");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "a.sgf").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
}
#endif
