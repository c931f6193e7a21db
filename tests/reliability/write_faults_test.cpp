// Writes that fail, through the library and through ugi2sgf: each is reported with the system's
// reason, the previous file stays as it was and no temporary file is left beside it.
#include "../support/process.h"
#include "records.h"

#include "../support/testfiles.h"

#include "filesystem_posix.h"
#include "groupwriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

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
        // The message names the output that could not be written after the source; a folder is
        // told in ugi2sgf's words, before any write.
        const std::string said = c.reason == "Is a directory" ? "it is a folder" : c.reason;
        EXPECT_EQ(printed.err, source.string() + ": cannot write " + c.target.string() + ": " + said + "\n");

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

// Whatever the umask, and whenever it was set: the new file is created with the mode less the
// umask, and the writer looks at what it got.
TEST(WriteFaults, ReplacingAFileKeepsItsPermissionBits)
{
    ScratchDir dir;
    writeBytes(dir / "source.ugi", ugiSource());
    const std::string expected = recordFileBytesOf(ugiSource());
    const std::u16string record = quillarn::translateRecord(quillarn::decodeAnsi(ugiSource()));
    const mode_t processMask = ::umask(022);
    for (const auto &[mask, mode] : {std::pair{022u, 0600u},
                                     {022u, 0640u},
                                     {022u, 0604u},
                                     {022u, 0444u},
                                     {022u, 0755u},
                                     {077u, 0644u},
                                     {077u, 04755u}}) {
        SCOPED_TRACE("umask " + std::to_string(mask) + ", mode " + std::to_string(mode));
        ::umask(mask);
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
    ::umask(processMask);
    EXPECT_EQ(listing(dir.path()), "library.sgf source.ugi ugi2sgf.sgf ");
}

// A FIFO, a character device and a descriptor of the process (/dev/stdout, /dev/fd/N) take the record
// as they are, with --force or without, and stay what they were; a batch does not write into them,
// and a block device or a socket is never written.
TEST(WriteFaults, SpecialFilesAreWrittenIntoAndNeverReplaced)
{
    ScratchDir dir;
    writeBytes(dir / "source.ugi", ugiSource());
    const std::string expected = recordFileBytesOf(ugiSource());
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("fifo", dir / "link.sgf");
    std::filesystem::create_directory(dir / "batch");
    writeBytes(dir / "batch" / "a.ugi", ugiSource());
    ASSERT_EQ(::mkfifo((dir / "batch" / "a.sgf").c_str(), 0600), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (dir / "socket").c_str(), sizeof address.sun_path - 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    struct Case {
        std::vector<std::string> args;
        std::string err;       // empty: exit 0
        bool intoFifo = false; // what a reader of the FIFO then reads: the record
    };
    std::vector<Case> cases = {
        {{"-o", "fifo"}, "", true},
        {{"--force", "-o", "fifo"}, "", true},
        {{"-o", "link.sgf"}, "", true},
        {{"--force", "--in-place", "batch"},
         "batch/a.ugi: cannot write batch/a.sgf: the output is a FIFO or device, which a batch does not "
         "write into\n0 converted, 1 failed, 0 skipped\n"},
        {{"--force", "-o", "socket"},
         "source.ugi: cannot write socket: the output is a socket; not written\n"},
        // Without --force too: no --force would write it.
        {{"-o", "socket"}, "source.ugi: cannot write socket: the output is a socket; not written\n"},
    };
    // Only root makes device nodes: one like /dev/null, and a block device.
    if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0 &&
        ::mknod((dir / "block").c_str(), S_IFBLK | 0600, ::makedev(7, 200)) == 0) {
        cases.push_back({{"-o", "null"}, ""});
        cases.push_back({{"--force", "-o", "null"}, ""});
        cases.push_back({{"--force", "-o", "block"},
                         "source.ugi: cannot write block: the output is a block device; not written\n"});
    }
    const auto types = [&] {
        std::string listed;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.path()))
            listed += entry.path().filename().string() + ":" +
                      std::to_string(int(entry.symlink_status().type())) + " ";
        return listed;
    };
    const std::string before = types();
    ChildSetup inFolder;
    inFolder.workingDirectory = dir.path().string();
    for (Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const int reader = ::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
        c.args.insert(c.args.begin(), {"--encoding", "cp932"});
        if (c.args.back() != "batch")
            c.args.push_back("source.ugi");
        const Outcome written = run(ugi2sgf, c.args, inFolder);
        std::string read(4096, '\0');
        read.resize(static_cast<std::size_t>(std::max<ssize_t>(::read(reader, read.data(), read.size()), 0)));
        ::close(reader);
        EXPECT_EQ(written.status, c.err.empty() ? 0 : 1);
        EXPECT_EQ(written.err, c.err);
        EXPECT_TRUE(read == (c.intoFifo ? expected : "")) << read;
        EXPECT_EQ(types(), before);
    }
    ::close(socket);

    // Standard output and another descriptor, through their links: a pipe, and a file that keeps
    // what it held.
    for (const auto &[command, out] :
         {std::pair<std::string, std::string>{"\"$0\" --encoding cp932 -o /dev/stdout \"$1\" | cat",
                                              expected},
          {"\"$0\" --encoding cp932 -o /dev/fd/3 \"$1\" 3>&1 | cat", expected},
          {"echo log; \"$0\" --encoding cp932 -o /dev/stdout \"$1\"", "log\n" + expected}}) {
        const Outcome shell =
            run("/bin/sh", {"-c", "exec 2>&1; " + command, ugi2sgf, "source.ugi"}, inFolder);
        EXPECT_TRUE(shell.out == out) << command << ": " << shell.out;
    }
}

// A write that takes none of the bytes fails rather than being tried forever; one refused for now
// (a full pipe opened without blocking) waits until the pipe takes bytes again, without spinning.
TEST(WriteFaults, AWriteThatTakesNothingFailsAndAFullPipeIsWaitedFor)
{
    ScratchDir dir;
    struct TakesNothing : quillarn::PosixFileSystem {
        ssize_t writeSome(int, const char *, std::size_t) override { return 0; }
    };
    ChildSetup limited;
    limited.timeoutSeconds = 20;
    EXPECT_EQ(inChild(
                  [&]() -> std::string {
                      TakesNothing takesNothing;
                      quillarn::LeftoverTemporaries leftovers;
                      quillarn::WriteOptions options;
                      options.system = &takesNothing;
                      try {
                          quillarn::writeFileAtomically(dir / "a.sgf", "(;CA[UTF-8])\r\n", leftovers,
                                                        options);
                      } catch (const quillarn::CommandFailure &failure) {
                          return failure.reason();
                      }
                      return "(no failure)";
                  },
                  limited),
              "the system took none of the bytes written");
    EXPECT_EQ(listing(dir.path()), "");

    // Opened without blocking, a FIFO with a reader that starts reading only later.
    struct NonBlocking : quillarn::PosixFileSystem {
        long writes = 0;
        std::error_code openToAppend(const quillarn::Folder &at, const char *name,
                                     quillarn::File &file) override
        {
            const std::error_code error = quillarn::PosixFileSystem::openToAppend(at, name, file);
            if (!error)
                ::fcntl(static_cast<int>(file.handle()), F_SETFL,
                        ::fcntl(static_cast<int>(file.handle()), F_GETFL) | O_NONBLOCK);
            return error;
        }
        ssize_t writeSome(int descriptor, const char *bytes, std::size_t size) override
        {
            ++writes;
            return quillarn::PosixFileSystem::writeSome(descriptor, bytes, size);
        }
    } nonBlocking;
    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string read;
    std::thread reading([&] {
        ::usleep(300000);
        ::fcntl(reader, F_SETFL, 0);
        char chunk[65536];
        for (ssize_t got; (got = ::read(reader, chunk, sizeof chunk)) > 0;)
            read.append(chunk, static_cast<std::size_t>(got));
    });
    const std::string bytes(1 << 20, 'x');
    quillarn::LeftoverTemporaries leftovers;
    quillarn::WriteOptions options;
    options.system = &nonBlocking;
    std::string failure;
    try {
        quillarn::writeFileAtomically(fifo, bytes, leftovers, options);
    } catch (const quillarn::CommandFailure &error) {
        failure = error.reason();
    }
    reading.join();
    ::close(reader);
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(read == bytes) << read.size() << " bytes read";
    // A write for each time the pipe took bytes, and one refused before each wait: a few hundred
    // at most for a megabyte, where trying again at once would make millions in the reader's pause.
    EXPECT_LT(nonBlocking.writes, 5000);
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
        struct FailingFlush : quillarn::PosixFileSystem {
            std::error_code flushFileSystem(quillarn::FileHandle) override
            {
                return std::make_error_code(std::errc::io_error);
            }
        } failingFlush;
        quillarn::GroupLimits failing;
        failing.system = &failingFlush;
        quillarn::GroupWriter group(leftovers, failing);
        group.add(7, dir / "a.sgf", "new a");
        group.add(8, dir / "b.sgf", "new b");
        const quillarn::Reason ioError(std::make_error_code(std::errc::io_error));
        EXPECT_EQ(group.commit(), (Results{{7, ioError}, {8, ioError}}));
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
