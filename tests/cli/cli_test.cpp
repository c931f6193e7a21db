// ugi2sgf as a user runs it: output bytes, exit status, messages, and what it leaves on disk.
#include "../support/datacases.h"
#include "../support/process.h"
#include "../support/testfiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

using testing_support::ChildSetup;
using testing_support::listing;
using testing_support::Outcome;
using testing_support::readBytes;
using testing_support::run;
using testing_support::ScratchDir;
using testing_support::writeBytes;

namespace {

Outcome ugi2sgf(const std::vector<std::string> &args, const ChildSetup &setup = {})
{
    return run(UGI2SGF, args, setup);
}

} // namespace

TEST(Ugi2sgf, DataCasesGiveTheExpectedBytesOrReason)
{
    for (const auto &c : testing_support::dataCases()) {
        SCOPED_TRACE(c.name);
        const Outcome run = ugi2sgf({"--encoding", "cp932", c.source.string()});
        if (c.succeeds) {
            std::string warnings;
            std::string heldBack; // the same lines from --strict, which writes nothing
            for (std::size_t at = 0, end; at < c.warnings.size(); at = end + 1) {
                end = c.warnings.find('\n', at);
                warnings += c.source.string() + ": " + c.warnings.substr(at, end + 1 - at);
                heldBack +=
                    c.source.string() + ": " + c.warnings.substr(at, end - at) + "; not written (--strict)\n";
            }
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.out, c.expected);
            EXPECT_EQ(run.err, warnings);
            // --strict: a record with warnings fails and is not written.
            const Outcome strict = ugi2sgf({"--strict", "--encoding", "cp932", c.source.string()});
            EXPECT_EQ(strict.status, warnings.empty() ? 0 : 1);
            EXPECT_EQ(strict.out, warnings.empty() ? c.expected : "");
            EXPECT_EQ(strict.err, heldBack);
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, c.source.string() + ": " + c.expected + "\n");
        }
        // Without --encoding the record is UTF-8, the charset first in its root node.
        const Outcome byDefault = ugi2sgf({c.source.string()});
        const Outcome utf8 = ugi2sgf({"--encoding", "utf-8", c.source.string()});
        EXPECT_EQ(byDefault.status, utf8.status);
        EXPECT_EQ(byDefault.out, utf8.out);
        EXPECT_EQ(byDefault.err, utf8.err);
        if (byDefault.status == 0) {
            EXPECT_EQ(byDefault.out.rfind("(;CA[UTF-8]", 0), 0u);
        }
    }
}

TEST(Ugi2sgf, OutputFileIsWrittenOnlyOnSuccessAndReplacedOnlyWithForce)
{
    ScratchDir dir;
    const std::string data = QUILLARN_TEST_DATA;
    const std::string good = data + "/basic-game.ugi";
    const std::string expected = readBytes(data + "/basic-game.sgf");
    const std::string b = (dir / "b.sgf").string();
    Outcome run = ugi2sgf({"--encoding", "cp932", "-o", (dir / "a.sgf").string(), good});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(readBytes(dir / "a.sgf"), expected);

    writeBytes(b, "previous");
    run = ugi2sgf({"-o", b, good});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, good + ": " + b + " exists (--force replaces it)\n");
    EXPECT_EQ(readBytes(b), "previous");
    run = ugi2sgf({"--force", "-o", b, data + "/missing-date.ugi"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readBytes(b), "previous");
    run = ugi2sgf({"--encoding", "cp932", "--force", "-o", b, good});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readBytes(b), expected);
    EXPECT_EQ(listing(dir.path()), "a.sgf b.sgf ");
    // A folder is not replaced, --force or not.
    std::filesystem::create_directory(dir / "folder.sgf");
    for (const char *force : {"-q", "--force"}) {
        run = ugi2sgf({force, "-o", (dir / "folder.sgf").string(), good});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, good + ": cannot write " + (dir / "folder.sgf").string() + ": it is a folder\n");
    }
    // A write that fails names the output after the source, on every system.
    const std::string nowhere = (dir / "missing" / "c.sgf").string();
    run = ugi2sgf({"-o", nowhere, good});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind(good + ": cannot write " + nowhere + ": ", 0), 0u) << run.err;

    // Names in any script, whatever the system's code page: read, written, and named in messages.
    const std::string named = (dir.path() / std::filesystem::u8path(u8"棋譜 한국 é")).u8string();
    writeBytes(std::filesystem::u8path(named + ".ugi"), readBytes(data + "/japanese-names.ugi"));
    run = ugi2sgf({"--encoding", "cp932", "-o", named + ".sgf", named + ".ugi"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readBytes(std::filesystem::u8path(named + ".sgf")), readBytes(data + "/japanese-names.sgf"));
    run = ugi2sgf({named + ".missing.ugi"});
    EXPECT_EQ(run.err, named + ".missing.ugi: No such file or directory\n");
}

// However the output is spelled, a record is never written over its own source, --force or not.
TEST(Ugi2sgf, OutputThatIsTheSourceItselfFailsAndLeavesItAlone)
{
    ScratchDir dir;
    const std::string source = readBytes(std::string(QUILLARN_TEST_DATA) + "/basic-game.ugi");
    writeBytes(dir / "game.ugi", source);
    std::vector<std::string> outputs = {"game.ugi", "./game.ugi"};
    std::error_code error;
    std::filesystem::create_hard_link(dir / "game.ugi", dir / "hard.sgf", error);
    if (!error)
        outputs.push_back("hard.sgf");
#ifdef _WIN32
    outputs.push_back("GAME.UGI"); // names differ only in letter case name one file there
#else
    std::filesystem::create_symlink(dir / "game.ugi", dir / "link.sgf");
    outputs.push_back("link.sgf");
#endif
    ChildSetup inFolder;
    inFolder.workingDirectory = dir.path().string();
    // Standard input that is the source file too, as "-".
    ChildSetup fromStandardInput = inFolder;
    fromStandardInput.standardInput = (dir / "game.ugi").u8string();
    for (const std::string &output : outputs) {
        for (const std::string input : {"game.ugi", "-"}) {
            SCOPED_TRACE(input + " -o " + output);
            const Outcome run =
                ugi2sgf({"--force", "-o", output, input}, input == "-" ? fromStandardInput : inFolder);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, input + ": the output " + output + " would replace the source\n");
            EXPECT_EQ(readBytes(dir / "game.ugi"), source);
        }
    }
    // Standard input that is another file is only read.
    const Outcome other = ugi2sgf({"--encoding", "cp932", "-o", "other.sgf", "-"}, fromStandardInput);
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(readBytes(dir / "other.sgf"), readBytes(std::string(QUILLARN_TEST_DATA) + "/basic-game.sgf"));
#ifndef _WIN32
    // Standard output onto the source: emptied by the shell before ugi2sgf ran (">"), or it would be
    // added to (">>"); either way nothing is written.
    const std::string itself = ": standard output is ";
    const std::string emptied = " itself: the shell emptied it before ugi2sgf ran; use -o\n";
    const std::string addedTo = " itself: the record would be written into it; use -o\n";
    const std::string redirections[][3] = {
        {"game.ugi > game.ugi", "game.ugi" + itself + "game.ugi" + emptied, ""},
        {"game.ugi >> game.ugi", "game.ugi" + itself + "game.ugi" + addedTo, source},
        {"- < game.ugi > game.ugi", "-" + itself + "the file of standard input" + emptied, ""},
        {"-o - - < game.ugi >> game.ugi", "-" + itself + "the file of standard input" + addedTo, source},
    };
    for (const auto &[redirection, err, left] : redirections) {
        SCOPED_TRACE(redirection);
        writeBytes(dir / "game.ugi", source);
        const Outcome shell = run("/bin/sh", {"-c", "exec \"$0\" " + redirection, UGI2SGF}, inFolder);
        EXPECT_EQ(shell.status, 1);
        EXPECT_EQ(shell.err, err);
        EXPECT_EQ(readBytes(dir / "game.ugi"), left);
    }
    writeBytes(dir / "game.ugi", source);
    // Batches keep the same rule: a link beside the source that has the output's name.
    std::filesystem::create_symlink("game.ugi", dir / "game.sgf");
    const Outcome batch = ugi2sgf({"--force", "--in-place", "game.ugi"}, inFolder);
    EXPECT_EQ(batch.err,
              "game.ugi: the output game.sgf would replace the source\n0 converted, 1 failed, 0 skipped\n");
    EXPECT_EQ(readBytes(dir / "game.ugi"), source);
#endif
}

// In each way of writing, files beside the outputs that look like the writer's temporary files but
// are not its own (a user's, old, of another form, of another output) stay as they were, and a
// leftover of a killed write of a.sgf goes. A name as long as the system allows, but for two bytes,
// is written.
TEST(Ugi2sgf, WritesRemoveOnlyTheirOwnLeftoversAndFitEveryNameThatFits)
{
    const std::string data = QUILLARN_TEST_DATA;
    const std::string source = readBytes(data + "/basic-game.ugi");
    const std::string expected = readBytes(data + "/basic-game.sgf");
    std::string longName; // 83 kanji: 249 bytes in UTF-8
    for (int i = 0; i < 83; ++i)
        longName += "\xE6\xA3\x8B";
    const std::map<std::string, std::string> lookAlikes = {
        {".a.sgf.backup", "precious"},
        {".a.sgf.2024v2", "precious"},
        {".a.sgf.tTMXEj", "(;CA[UTF-8]"},                // the form temporary files once had
        {".quillarn-oppbf70aPrecio.tmp", "precious"},    // the writer's form, a user's bytes
        {".quillarn-eqvemylrLeft00.tmp", "(;CA[UTF-8]"}, // a leftover of b.sgf, not written here
    };
    const std::string leftover = ".quillarn-oppbf70aLeft00.tmp"; // of a.sgf
    const auto one = [&](const std::string &name) {
        return std::vector<std::string>{"-o", "out/" + name + ".sgf", "in/" + name + ".ugi"};
    };
    const std::map<std::string, std::vector<std::vector<std::string>>> ways = {
        {"-o", {one("a"), one(longName)}},
        {"--in-place", {{"--in-place", "in"}}},
        {"-d", {{"-d", "out", "in"}}}};
    for (const auto &[way, runs] : ways) {
        SCOPED_TRACE(way);
        ScratchDir dir;
        const auto in = dir / "in";
        const auto out = way == "--in-place" ? in : dir / "out";
        std::filesystem::create_directories(in);
        std::filesystem::create_directories(out);
        std::set<std::string> names; // what out holds in the end
        for (const std::string &name : {std::string("a"), longName}) {
            writeBytes(in / std::filesystem::u8path(name + ".ugi"), source);
            names.insert(name + ".sgf");
            if (in == out)
                names.insert(name + ".ugi");
        }
        const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
        for (const auto &[name, bytes] : lookAlikes) {
            writeBytes(out / name, bytes);
            std::filesystem::last_write_time(out / name, old);
            names.insert(name);
        }
        writeBytes(out / leftover, "(;CA[UTF-8]GN[");
        std::filesystem::last_write_time(out / leftover, old);

        ChildSetup inFolder;
        inFolder.workingDirectory = dir.path().u8string();
        for (std::vector<std::string> args : runs) {
            args.insert(args.begin(), {"-q", "--encoding", "cp932"});
            const Outcome run = ugi2sgf(args, inFolder);
            EXPECT_EQ(run.status, 0) << run.err;
        }
        std::string listed;
        for (const std::string &name : names)
            listed += name + " ";
        EXPECT_EQ(listing(out), listed);
        for (const auto &[name, bytes] : lookAlikes)
            EXPECT_EQ(readBytes(out / name), bytes) << name;
        for (const std::string &name : {std::string("a"), longName})
            EXPECT_TRUE(readBytes(out / std::filesystem::u8path(name + ".sgf")) == expected) << name;
    }
}

// A device given as -o takes the record as it is, without --force, and stays a device.
TEST(Ugi2sgf, ADeviceGivenAsOutputIsWrittenIntoWithoutForce)
{
#ifdef _WIN32
    const std::string device = "NUL";
#else
    const std::string device = "/dev/null";
#endif
    ScratchDir dir;
    ChildSetup inFolder;
    inFolder.workingDirectory = dir.path().u8string();
    const Outcome run =
        ugi2sgf({"-o", device, std::string(QUILLARN_TEST_DATA) + "/basic-game.ugi"}, inFolder);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(listing(dir.path()), "");
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::is_character_file(device));
#endif
}

TEST(Ugi2sgf, UsageErrorsExitTwo)
{
    EXPECT_EQ(ugi2sgf({}).status, 2);
    EXPECT_EQ(ugi2sgf({"--bogus", "a.ugi"}).status, 2);
    EXPECT_EQ(ugi2sgf({"a.ugi", "-o"}).status, 2);
    const Outcome empty = ugi2sgf({"-o", "", "a.ugi"}); // an empty name names no file
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.err.substr(0, empty.err.find('\n')), "ugi2sgf: option -o needs a file name");
    const Outcome help = ugi2sgf({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: ugi2sgf"), std::string::npos);
    const Outcome version = ugi2sgf({"--version"});
    EXPECT_EQ(version.out, "ugi2sgf (Quillarn) 0.1\n");
}

// Messages and help follow the locale, as GNU programs' do: Japanese in a Japanese one, English in
// C, POSIX, any other language, and a locale the system has not set up.
TEST(Ugi2sgf, MessagesAreInTheLanguageOfTheLocale)
{
    const std::string missingDate = std::string(QUILLARN_TEST_DATA) + "/missing-date.ugi";
    const struct {
        const char *locale;
        const char *reason;
        const char *help;
    } rows[] = {
        {"ja_JP.UTF-8", ": ヘッダーにキー「Date=」がありません\n", "使い方: ugi2sgf"},
        {"C", ": missing header key \"Date=\"\n", "usage: ugi2sgf"},
        {"POSIX", ": missing header key \"Date=\"\n", "usage: ugi2sgf"},
        {"en_US.UTF-8", ": missing header key \"Date=\"\n", "usage: ugi2sgf"},
#ifndef _WIN32
        {"ja_JP.NOT-SET-UP", ": missing header key \"Date=\"\n", "usage: ugi2sgf"},
#endif
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.locale);
        ChildSetup setup;
        setup.locale = row.locale;
        EXPECT_EQ(ugi2sgf({missingDate}, setup).err, missingDate + row.reason);
        EXPECT_EQ(ugi2sgf({"--help"}, setup).out.rfind(row.help, 0), 0u);
    }
    ChildSetup japanese;
    japanese.locale = "ja_JP.UTF-8";
    EXPECT_EQ(ugi2sgf({"--bogus"}, japanese).err,
              "ugi2sgf: 知らないオプションです: --bogus\n'ugi2sgf --help' で使い方を表示します。\n");
}

TEST(Ugi2sgf, MissingFileAndLeadingDashName)
{
    ScratchDir dir;
    const Outcome missing = ugi2sgf({(dir / "none.ugi").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, (dir / "none.ugi").string() + ": No such file or directory\n");

    writeBytes(dir / "-a.ugi", readBytes(std::string(QUILLARN_TEST_DATA) + "/basic-game.ugi"));
    ChildSetup inFolder;
    inFolder.workingDirectory = dir.path().string();
    const Outcome dashed = ugi2sgf({"--encoding", "cp932", "--", "-a.ugi"}, inFolder);
    EXPECT_EQ(dashed.status, 0);
    EXPECT_EQ(dashed.out, readBytes(std::string(QUILLARN_TEST_DATA) + "/basic-game.sgf"));
}

#ifndef _WIN32

// "-" as the input is standard input, and as the -o file standard output, so ugi2sgf sits in a pipe.
TEST(Ugi2sgf, DashReadsStandardInputAndWritesStandardOutput)
{
    const std::string data = QUILLARN_TEST_DATA;
    const auto piped = [](const std::string &args, const std::string &source) {
        return run("/bin/sh", {"-c", "exec \"$0\" " + args + " < \"$1\"", UGI2SGF, source});
    };
    Outcome run = piped("--encoding cp932 -", data + "/basic-game.ugi");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, readBytes(data + "/basic-game.sgf"));
    run = piped("--encoding cp932 -o - -", data + "/japanese-names.ugi");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, readBytes(data + "/japanese-names.sgf"));
    run = piped("-", data + "/missing-date.ugi");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "-: missing header key \"Date=\"\n");
}

// A signal while a record is on its way to its -o file: the record is finished and put in place,
// no temporary file stays, and the program then ends as the signal ends it, as a batch does.
TEST(Ugi2sgf, ASignalLetsTheRecordOnItsWayToAFileFinish)
{
    const std::string source = readBytes(std::string(QUILLARN_TEST_DATA) + "/basic-game.ugi");
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        ScratchDir dir;
        int input[2];
        ASSERT_EQ(::pipe(input), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::dup2(input[0], 0) < 0 || ::chdir(dir.path().c_str()) != 0)
                ::_exit(127);
            ::close(input[1]);
            ::execl(UGI2SGF, UGI2SGF, "-q", "--encoding", "cp932", "-o", "out.sgf", "-",
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(input[0]);
        // Half the record, the signal while the rest is awaited, then the rest.
        const std::size_t half = source.size() / 2;
        ASSERT_EQ(::write(input[1], source.data(), half), static_cast<ssize_t>(half));
        ::usleep(100000);
        ::kill(child, signal);
        ::usleep(100000);
        ASSERT_EQ(::write(input[1], source.data() + half, source.size() - half),
                  static_cast<ssize_t>(source.size() - half));
        ::close(input[1]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(listing(dir.path()), "out.sgf ");
        EXPECT_EQ(readBytes(dir / "out.sgf"), readBytes(std::string(QUILLARN_TEST_DATA) + "/basic-game.sgf"));
    }
}

TEST(Ugi2sgf, StandardOutputThatCannotBeWrittenFails)
{
    ChildSetup full;
    full.standardOutput = "/dev/full";
    const Outcome run = ugi2sgf({std::string(QUILLARN_TEST_DATA) + "/basic-game.ugi"}, full);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(": cannot write standard output: No space left on device"), std::string::npos);
}
#endif
