// ugi2sgf over folders and many files: what it writes where, what it leaves alone, what it says
// and the exit status; UTF-8 output; progress only on a terminal; messages in order with workers.
#include "../support/datacases.h"
#include "../support/process.h"
#include "../support/testfiles.h"

#include "batch.h"
#include "batchplan.h"
#include "casefold.h"
#include "recordfile.h"
#include "shown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using testing_support::ChildSetup;
using testing_support::DataCase;
using testing_support::listing;
using testing_support::Outcome;
using testing_support::readBytes;
using testing_support::run;
using testing_support::ScratchDir;
using testing_support::writeBytes;

namespace {

// Runs ugi2sgf in folder (so that the paths it prints are relative to it).
Outcome ugi2sgf(const fs::path &folder, const std::vector<std::string> &args)
{
    ChildSetup setup;
    setup.workingDirectory = folder.string();
    return run(UGI2SGF, args, setup);
}

// Returns text with the folder separator ugi2sgf uses in the paths it builds: "\\" on Windows.
std::string slashes(std::string text)
{
#ifdef _WIN32
    std::replace(text.begin(), text.end(), '/', '\\');
#endif
    return text;
}

#ifndef _WIN32
// Runs ugi2sgf in folder with standard output and standard error on a pseudo-terminal; returns what
// it wrote there.
std::string ugi2sgfOnTerminal(const fs::path &folder, const std::vector<std::string> &args)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return "(no pseudo-terminal)";
    const std::string terminal = ::ptsname(master);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        const int slave = ::open(terminal.c_str(), O_RDWR);
        if (slave < 0 || ::dup2(slave, 2) < 0 || ::dup2(slave, 1) < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        std::vector<char *> argv{const_cast<char *>(UGI2SGF)};
        for (const auto &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(UGI2SGF, argv.data());
        ::_exit(127);
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break; // EIO once the child has closed the terminal
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(master);
    return text;
}

// Starts a child process that converts items as ugi2sgf --force -q does, in groups of a few
// records so that groups are committed throughout the run; returns its process id.
pid_t startBatch(const std::vector<quillarn::BatchItem> &items)
{
    const pid_t child = ::fork();
    if (child == 0) {
        quillarn::BatchOptions options;
        options.force = true;
        options.quiet = true;
        options.workers = 4;
        options.groupLimits.files = 8;
        std::ostringstream messages;
        quillarn::runBatch(items, options, messages);
        ::_exit(0);
    }
    return child;
}
#endif

std::string dataFile(const std::string &name)
{
    return readBytes(fs::path(QUILLARN_TEST_DATA) / name);
}

void copyData(const std::string &name, const fs::path &to)
{
    fs::create_directories(to.parent_path());
    writeBytes(to, dataFile(name));
}

// The basic game as UTF-8: the same bytes as its code page 932 record (it is ASCII), with the
// charset first in the root node.
const std::string basicGameUtf8 = "(;CA[UTF-8]GN[Match]CP[x]RE[B+R]PB[Kuro]BR[3d]PW[Shiro]WR[2d]PC[Hall]"
                                  "DT[2000-10-24]SZ[19]HA[0]KM[6.5];B[qd];W[dp])\r\n";

} // namespace

// Every data case in a tree, one of them converted before: each output's bytes, the failures and
// the skip in order, the summary and the exit status; then --force.
TEST(Batch, FolderTreeWithGoodFailingAndConvertedRecords)
{
    ScratchDir dir;
    const std::vector<DataCase> cases = testing_support::dataCases();
    ASSERT_GE(cases.size(), 4u);
    // Half the cases in a subfolder, and upper-case extensions there, which are records as well.
    std::vector<std::string> sources;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string source =
            i % 2 == 0 ? "in/" + cases[i].name + ".ugi" : "in/sub/" + cases[i].name + ".UGI";
        copyData(cases[i].name + ".ugi", dir / source);
        sources.push_back(source);
    }
    writeBytes(dir / "in" / "notes.txt", "not a record");
    const auto converted =
        std::find_if(cases.begin(), cases.end(), [](const DataCase &c) { return c.succeeds; });
    ASSERT_NE(converted, cases.end());
    const bool inSub = (converted - cases.begin()) % 2 != 0;
    const fs::path convertedTarget = dir / "out" / (inSub ? "sub" : "") / (converted->name + ".sgf");
    fs::create_directories(convertedTarget.parent_path());
    writeBytes(convertedTarget, "converted before");

    Outcome run = ugi2sgf(dir.path(), {"--encoding", "cp932", "-d", "out", "in"});
    std::string expectedErr;
    std::size_t good = 0;
    std::size_t bad = 0;
    std::size_t warned = 0;
    // Messages come in the byte order of the paths below "in": in/NAME.ugi before in/sub/.
    std::vector<std::size_t> order(cases.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return sources[a] < sources[b]; });
    for (const std::size_t i : order) {
        const DataCase &c = cases[i];
        SCOPED_TRACE(c.name);
        const fs::path target = dir / "out" / (i % 2 == 0 ? "" : "sub") / (c.name + ".sgf");
        if (&c == &*converted) {
            EXPECT_EQ(readBytes(target), "converted before");
        } else if (c.succeeds) {
            ++good;
            for (std::size_t at = 0, end; at < c.warnings.size(); at = end + 1) {
                end = c.warnings.find('\n', at);
                expectedErr += slashes(sources[i]) + ": " + c.warnings.substr(at, end + 1 - at);
            }
            warned += c.warnings.empty() ? 0 : 1;
            EXPECT_EQ(readBytes(target), c.expected);
        } else {
            ++bad;
            expectedErr += slashes(sources[i]) + ": " + c.expected + "\n";
            EXPECT_FALSE(fs::exists(target));
        }
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    const auto summary = [&](std::size_t count) {
        return std::to_string(count) + " converted (" + std::to_string(warned) + " with warnings), ";
    };
    ASSERT_GT(warned, 0u);
    EXPECT_EQ(run.err, expectedErr + "1 skipped: its output exists (--force replaces it)\n" + summary(good) +
                           std::to_string(bad) + " failed, 1 skipped\n");
    // Nothing but the records: no temporary file, nothing for notes.txt.
    std::size_t files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(dir / "out"))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, good + 1);

    run = ugi2sgf(dir.path(), {"--encoding", "cp932", "--force", "-d", "out", "in"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readBytes(convertedTarget), converted->expected);
    EXPECT_NE(run.err.find(summary(good + 1) + std::to_string(bad) + " failed, 0 skipped\n"),
              std::string::npos);

    // Nothing failed and nothing left to do: exit 0, and the skips counted in one line; -v names
    // each, -q says nothing.
    ScratchDir clean;
    copyData("basic-game.ugi", clean / "in" / "a.ugi");
    copyData("japanese-names.ugi", clean / "in" / "b.ugi");
    EXPECT_EQ(ugi2sgf(clean.path(), {"-d", "out", "in"}).err, "2 converted, 0 failed, 0 skipped\n");
    const std::string skips = "2 skipped: their outputs exist (--force replaces them)\n"
                              "0 converted, 0 failed, 2 skipped\n";
    const std::string named = slashes("in/a.ugi: skipped, out/a.sgf exists (--force replaces it)\n"
                                      "in/b.ugi: skipped, out/b.sgf exists (--force replaces it)\n");
    for (const auto &[option, said] :
         {std::pair("--encoding=utf-8", skips), std::pair("-v", named + skips),
          std::pair("--verbose", named + skips), std::pair("-q", std::string())}) {
        run = ugi2sgf(clean.path(), {option, "-d", "out", "in"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, said) << option;
    }
}

TEST(Batch, InPlaceWritesBesideEachSource)
{
    ScratchDir dir;
    copyData("basic-game.ugi", dir / "games" / "2000" / "final.ugi");
    copyData("missing-date.ugi", dir / "games" / "2000" / "broken.Ugi");
    copyData("japanese-names.ugi", dir / "games" / "kisei.UGI");
    copyData("escaped-values.ugi", dir / "single.ugi");

    const Outcome run = ugi2sgf(dir.path(), {"--encoding", "cp932", "--in-place", "games", "single.ugi"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, slashes("games/2000/broken.Ugi") +
                           ": missing header key \"Date=\"\n3 converted, 1 failed, 0 skipped\n");
    EXPECT_EQ(listing(dir / "games" / "2000"), "broken.Ugi final.sgf final.ugi ");
    EXPECT_EQ(listing(dir / "games"), "2000 kisei.UGI kisei.sgf ");
    EXPECT_EQ(readBytes(dir / "games" / "2000" / "final.sgf"), dataFile("basic-game.sgf"));
    EXPECT_EQ(readBytes(dir / "games" / "kisei.sgf"), dataFile("japanese-names.sgf"));
    EXPECT_EQ(readBytes(dir / "single.sgf"), dataFile("escaped-values.sgf"));

    // A record whose output name is its own name is never written over itself, even with --force.
    writeBytes(dir / "odd.sgf", dataFile("basic-game.ugi"));
    const Outcome self = ugi2sgf(dir.path(), {"--in-place", "--force", "odd.sgf"});
    EXPECT_EQ(self.status, 1);
    EXPECT_EQ(self.err,
              "odd.sgf: the output odd.sgf would replace the source\n0 converted, 1 failed, 0 skipped\n");
    EXPECT_EQ(readBytes(dir / "odd.sgf"), dataFile("basic-game.ugi"));

    // An output that is a folder fails (not skipped); a record that --strict holds back says so.
    copyData("basic-game.ugi", dir / "held" / "taken.ugi");
    fs::create_directories(dir / "held" / "taken.sgf");
    copyData("illegal-moves.ugi", dir / "held" / "warned.ugi");
    const std::string folder = slashes("held/taken.ugi: cannot write held/taken.sgf") + ": it is a folder\n";
    const std::string warned = slashes("held/warned.ugi") + ": ";
    const Outcome held = ugi2sgf(dir.path(), {"--strict", "--in-place", "held"});
    EXPECT_EQ(held.err, folder + warned +
                            "handicap 2 but White does not move first: no handicap stones (AB) written; not "
                            "written (--strict)\n" +
                            warned + "move 4 (W pd) is on an occupied point; not written (--strict)\n" +
                            "0 converted, 2 failed, 0 skipped\n");
    EXPECT_EQ(listing(dir / "held"), "taken.sgf taken.ugi warned.ugi ");

    // Names in any script, whatever the system's code page: found, written beside their source,
    // and named in messages.
    const fs::path named = dir.path() / fs::u8path(u8"名人戦 한국 é");
    copyData("basic-game.ugi", named / fs::u8path(u8"第1局.ugi"));
    copyData("missing-date.ugi", named / fs::u8path(u8"손님.ugi"));
    const Outcome scripts = ugi2sgf(dir.path(), {"--encoding", "cp932", "--in-place", u8"名人戦 한국 é"});
    EXPECT_EQ(scripts.err, slashes(u8"名人戦 한국 é/손님.ugi") +
                               ": missing header key \"Date=\"\n1 converted, 1 failed, 0 skipped\n");
    EXPECT_EQ(readBytes(named / fs::u8path(u8"第1局.sgf")), dataFile("basic-game.sgf"));
}

// -d keeps the folders below each input folder; a file given by itself goes straight into DIR. Two
// records with one output: the first keeps it, the second fails, and the first's bytes stay.
TEST(Batch, OutputFolderKeepsRelativeFoldersAndNeverMergesTwoRecords)
{
    ScratchDir dir;
    copyData("basic-game.ugi", dir / "club" / "2000" / "autumn" / "final.ugi");
    copyData("japanese-names.ugi", dir / "club" / "kisei.ugi");
    copyData("escaped-values.ugi", dir / "loose" / "one.ugi");
    Outcome run =
        ugi2sgf(dir.path(), {"--encoding", "cp932", "-d", "out", "club", "loose/one.ugi", "club/kisei.ugi"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "3 converted, 0 failed, 0 skipped\n"); // kisei.ugi twice is one record
    EXPECT_EQ(readBytes(dir / "out" / "2000" / "autumn" / "final.sgf"), dataFile("basic-game.sgf"));
    EXPECT_EQ(readBytes(dir / "out" / "kisei.sgf"), dataFile("japanese-names.sgf"));
    EXPECT_EQ(readBytes(dir / "out" / "one.sgf"), dataFile("escaped-values.sgf"));
    EXPECT_EQ(listing(dir / "out"), "2000 kisei.sgf one.sgf ");

    copyData("no-data-section.ugi", dir / "other" / "kisei.ugi");
    copyData("basic-game.ugi", dir / "club" / "kisei.UGI");
    run = ugi2sgf(dir.path(), {"--encoding", "cp932", "--force", "-d", "merged", "club", "other"});
    EXPECT_EQ(run.status, 1);
#ifdef _WIN32
    // Names that differ only in letter case are one file: kisei.UGI replaced kisei.ugi.
    EXPECT_EQ(run.err,
              slashes("other/kisei.ugi: its output merged/kisei.sgf is also the output of club/kisei.ugi; "
                      "not converted\n") +
                  "2 converted, 1 failed, 0 skipped\n");
#else
    EXPECT_EQ(run.err, "club/kisei.ugi: its output merged/kisei.sgf is also the output of club/kisei.UGI; "
                       "not converted\n"
                       "other/kisei.ugi: its output merged/kisei.sgf is also the output of club/kisei.UGI; "
                       "not converted\n"
                       "2 converted, 2 failed, 0 skipped\n");
#endif
    EXPECT_EQ(readBytes(dir / "merged" / "kisei.sgf"), dataFile("basic-game.sgf"));
}

// Names are compared as Windows compares them, by Unicode's simple case folding: in any script
// (with U+0131, whose capital is I, joined to i). There, folders that the system would otherwise
// trim (a name that ends in a dot or a space) or take for a device, and folders deeper than 260
// characters, are walked like any other; records whose outputs differ only in letter case share
// one, which the first keeps.
TEST(Batch, NamesFoldInEveryScriptAndWindowsWalksEveryFolder)
{
    const std::pair<const char *, const char *> folded[] = {
        {u8"ABC É Ａ戦 ΣΑΣ ς Ǆǅ ẞ İ ı", u8"abc é ａ戦 σασ σ ǆǆ ß İ i"},
        {u8"\u212A \U00010400 \uAB70 \u1E9B",
         u8"k \U00010428 \u13A0 \u1E61"}, // Kelvin; Deseret; Cherokee; ſ with dot
        {"\xe9\xc3", "\xe9\xc3"},         // not UTF-8: kept
    };
    for (const auto &[name, expected] : folded)
        EXPECT_EQ(quillarn::foldedCase(name), expected);
#ifdef _WIN32
    ScratchDir dir;
    // Made through the long form, as the system would trim or refuse these names otherwise.
    const std::wstring root = L"\\\\?\\" + dir.path().native();
    const auto place = [&](const std::wstring &folder, const std::wstring &name, const std::string &data) {
        std::wstring path = root;
        for (std::size_t at = 0; at <= folder.size();) {
            const std::size_t end = std::min(folder.find(L'\\', at), folder.size());
            path += L"\\" + folder.substr(at, end - at);
            CreateDirectoryW(path.c_str(), nullptr);
            at = end + 1;
        }
        const std::wstring source = fs::path(QUILLARN_TEST_DATA).make_preferred().native() + L"\\" +
                                    fs::u8path(data + ".ugi").native();
        EXPECT_TRUE(CopyFileW(source.c_str(), (path + L"\\" + name).c_str(), FALSE)) << fs::path(name);
    };
    const std::wstring deep = std::wstring(130, L'l') + L"\\" + std::wstring(130, L'm');
    place(L"in\\dot.", L"a.ugi", "basic-game");
    place(L"in\\sp ", L"b.ugi", "basic-game");
    place(L"in\\con", L"c.ugi", "missing-date");
    place(L"in\\" + deep, L"d.ugi", "basic-game");
    Outcome run = ugi2sgf(dir.path(), {"-d", "out", "in"});
    EXPECT_EQ(run.err, "in\\con\\c.ugi: missing header key \"Date=\"\n3 converted, 1 failed, 0 skipped\n");
    for (const std::wstring &output :
         std::vector<std::wstring>{L"dot.\\a.sgf", L"sp \\b.sgf", deep + L"\\d.sgf"})
        EXPECT_EQ(quillarn::readFileBytes(root + L"\\out\\" + output), basicGameUtf8) << fs::path(output);
    // Renamed to names that the removal of the scratch folder can reach.
    const std::wstring odd[] = {L"dot.", L"sp ", L"con", std::wstring(130, L'l')};
    for (const wchar_t *folder : {L"\\in\\", L"\\out\\"}) {
        for (int n = 0; n < 4; ++n)
            MoveFileW((root + folder + odd[n]).c_str(), (root + folder + L"x" + std::to_wstring(n)).c_str());
    }

    place(L"x1", fs::u8path(u8"É.ugi").native(), "basic-game");
    place(L"x2", fs::u8path(u8"é.ugi").native(), "japanese-names");
    place(L"y1", fs::u8path(u8"Ａ戦.ugi").native(), "basic-game");
    place(L"y2", fs::u8path(u8"ａ戦.ugi").native(), "japanese-names");
    const std::string sharedE =
        u8"x2\\é.ugi: its output folded\\é.sgf is also the output of x1\\É.ugi; not converted\n";
    const std::string sharedA =
        u8"y2\\ａ戦.ugi: its output folded\\ａ戦.sgf is also the output of y1\\Ａ戦.ugi; not converted\n";
    run = ugi2sgf(dir.path(), {"--force", "-d", "folded", "x1", "x2", "y1", "y2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, sharedE + sharedA + "2 converted, 2 failed, 0 skipped\n");
    // Again without --force: the first records' outputs are there now.
    run = ugi2sgf(dir.path(), {"-v", "-d", "folded", "x1", "x2", "y1", "y2"});
    EXPECT_EQ(run.err, u8"x1\\É.ugi: skipped, folded\\É.sgf exists (--force replaces it)\n" + sharedE +
                           u8"y1\\Ａ戦.ugi: skipped, folded\\Ａ戦.sgf exists (--force replaces it)\n" +
                           sharedA +
                           "2 skipped: their outputs exist (--force replaces them)\n"
                           "0 converted, 2 failed, 2 skipped\n");
    EXPECT_EQ(readBytes(dir / "folded" / fs::u8path(u8"é.sgf")), basicGameUtf8);
    EXPECT_EQ(readBytes(dir / "folded" / fs::u8path(u8"ａ戦.sgf")), basicGameUtf8);
#endif
}

TEST(Batch, Utf8OutputCarriesTheCharsetAndRefusesUndecodedBytes)
{
    ScratchDir dir;
    copyData("basic-game.ugi", dir / "in" / "a.ugi");
    copyData("japanese-names.ugi", dir / "in" / "b.ugi");
    copyData("undecodable-byte.ugi", dir / "in" / "c.ugi");
    Outcome run = ugi2sgf(dir.path(), {"--encoding", "utf-8", "-d", "out", "in"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, slashes("in/c.ugi") +
                           ": byte 0x85 of the source did not decode and cannot be written as "
                           "UTF-8\n2 converted, 1 failed, 0 skipped\n");
    EXPECT_EQ(readBytes(dir / "out" / "a.sgf"), basicGameUtf8);
    EXPECT_EQ(
        readBytes(dir / "out" / "b.sgf"),
        u8"(;CA[UTF-8]GN[第25期棋聖戦 第1局]CP[日本ソフト表示]RE[W+6.5]PB[山田太郎]BR[九段]"
        u8"PW[鈴木ﾊﾅｺ]WR[名人]PC[東京都 ～ 市ヶ谷]DT[2001-01-17]SZ[19]HA[0]KM[6.5];B[pd];W[dd];B[tt])\r\n");
    EXPECT_EQ(listing(dir / "out"), "a.sgf b.sgf ");

    // One file to standard output: UTF-8 by default; every name of each encoding, in any case, and
    // the option's other spelling.
    EXPECT_EQ(ugi2sgf(dir.path(), {"in/a.ugi"}).out, basicGameUtf8);
    for (const char *name : {"utf-8", "UTF8", "--encoding=Utf-8"}) {
        SCOPED_TRACE(name);
        const bool joined = name[0] == '-';
        run = joined ? ugi2sgf(dir.path(), {name, "in/a.ugi"})
                     : ugi2sgf(dir.path(), {"--encoding", name, "in/a.ugi"});
        EXPECT_EQ(run.out, basicGameUtf8);
    }
    for (const char *name : {"cp932", "Shift_JIS", "SJIS", "windows-31j", "CP932"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ugi2sgf(dir.path(), {"--encoding", name, "in/b.ugi"}).out, dataFile("japanese-names.sgf"));
    }
    run = ugi2sgf(dir.path(), {"in/c.ugi"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
#ifndef _WIN32
    // Code page 932 on a terminal: one line says so, before the record's bytes as they are.
    const std::string note = "ugi2sgf: the record below is code page 932 and may show garbled here; -o FILE "
                             "saves it unchanged\r\n";
    std::string shown = dataFile("basic-game.sgf");
    shown.insert(shown.size() - 1, "\r"); // the terminal's LF is CR LF
    EXPECT_EQ(ugi2sgfOnTerminal(dir.path(), {"--encoding", "cp932", "in/a.ugi"}), note + shown);
    EXPECT_EQ(ugi2sgfOnTerminal(dir.path(), {"in/a.ugi"}).find("ugi2sgf:"), std::string::npos);
#endif
}

// The progress bar is for people watching a terminal: never in a file or pipe, never with -q.
TEST(Batch, ProgressOnlyOnATerminal)
{
    ScratchDir dir;
    copyData("basic-game.ugi", dir / "in" / "a.ugi");
    copyData("japanese-names.ugi", dir / "in" / "b.ugi");
    copyData("missing-date.ugi", dir / "in" / "c.ugi");

    const Outcome toFile = ugi2sgf(dir.path(), {"-d", "out", "in"});
    EXPECT_EQ(toFile.err,
              slashes("in/c.ugi: missing header key \"Date=\"\n2 converted, 1 failed, 0 skipped\n"));
#ifndef _WIN32

    const std::string shown = ugi2sgfOnTerminal(dir.path(), {"--force", "-d", "out", "in"});
    EXPECT_NE(shown.find("\r[-"), std::string::npos) << shown;
    EXPECT_NE(shown.find("/3 in/"), std::string::npos) << shown;
    // The bar is erased before each message, which starts on a clean line.
    EXPECT_NE(shown.find("\r\x1b[Kin/c.ugi: missing header key \"Date=\"\r\n"), std::string::npos) << shown;
    const std::string summary = "\r\n2 converted, 1 failed, 0 skipped\r\n";
    EXPECT_EQ(shown.substr(shown.size() - std::min(shown.size(), summary.size())), summary) << shown;

    // -q: the failure only, on a terminal too.
    EXPECT_EQ(ugi2sgfOnTerminal(dir.path(), {"-q", "-d", "out", "in"}),
              "in/c.ugi: missing header key \"Date=\"\r\n");
    // One file is no batch to follow: no bar.
    EXPECT_EQ(ugi2sgfOnTerminal(dir.path(), {"--force", "-d", "out", "in/a.ugi"}),
              "1 converted, 0 failed, 0 skipped\r\n");
#endif
}

TEST(Batch, UsageErrorsWriteNothing)
{
    ScratchDir dir;
    copyData("basic-game.ugi", dir / "in" / "a.ugi");
    copyData("basic-game.ugi", dir / "in" / "b.ugi");
    writeBytes(dir / "file", "");
    const std::vector<std::vector<std::string>> misuses = {
        {"in"},                                  // a folder needs somewhere to write
        {"in/a.ugi", "in/b.ugi"},                // as do several files
        {"-o", "x.sgf", "in/a.ugi", "in/b.ugi"}, // -o is for one record
        {"-o", "x.sgf", "-d", "out", "in"},
        {"-d", "out", "--in-place", "in"},
        {"-d", "file", "in"},
        {"-d"},
        {"--encoding", "latin-1", "in/a.ugi"},
        {"--encoding"},
        {"-d", "out", "-"}, // standard input is one record, not a batch
        {"--in-place", "in", "-"},
    };
    for (const auto &args : misuses) {
        std::string trace;
        for (const auto &arg : args)
            trace += arg + " ";
        SCOPED_TRACE(trace);
        const Outcome run = ugi2sgf(dir.path(), args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("Try 'ugi2sgf --help'."), std::string::npos);
    }
    EXPECT_EQ(listing(dir.path()), "file in ");
    EXPECT_EQ(listing(dir / "in"), "a.ugi b.ugi ");

    // Missing paths and folders without records are failures of the batch, not usage errors.
    fs::create_directories(dir / "empty" / "sub");
    const Outcome missing = ugi2sgf(dir.path(), {"-d", "out", "nowhere", "empty", "in/a.ugi"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "nowhere: No such file or directory\nempty: no .ugi records\n"
                           "1 converted, 2 failed, 0 skipped\n");
    // A write that fails names the output after the source.
    fs::create_directories(dir / "taken" / "a.sgf");
    const Outcome taken = ugi2sgf(dir.path(), {"--force", "-d", "taken", "in/a.ugi"});
    EXPECT_EQ(taken.status, 1);
    EXPECT_EQ(taken.err.rfind("in/a.ugi: cannot write " + slashes("taken/a.sgf") + ": ", 0), 0u) << taken.err;

    // A folder of an output is made only for a record that converted, and one that cannot be made
    // is named, not the folder below it that the record goes into.
    copyData("missing-date.ugi", dir / "bad" / "2023" / "b.ugi");
    const Outcome failing = ugi2sgf(dir.path(), {"-d", "none", "bad"});
    EXPECT_EQ(failing.err, slashes("bad/2023/b.ugi") + ": missing header key \"Date=\"\n"
                                                       "0 converted, 1 failed, 0 skipped\n");
    EXPECT_FALSE(fs::exists(dir / "none"));
    copyData("basic-game.ugi", dir / "club" / "2023" / "spring" / "a.ugi");
    writeBytes(dir / "taken" / "2023", "");
    const Outcome blocked = ugi2sgf(dir.path(), {"-d", "taken", "club"});
    EXPECT_EQ(blocked.err, slashes("club/2023/spring/a.ugi: cannot create folder taken/2023") +
                               ": Not a directory\n0 converted, 1 failed, 0 skipped\n");
    // Without the output folder itself no record is written: said once, for the first.
    copyData("basic-game.ugi", dir / "club" / "2023" / "spring" / "b.ugi");
    const Outcome under = ugi2sgf(dir.path(), {"-d", "file/sub", "club"});
    EXPECT_EQ(under.status, 1);
    EXPECT_EQ(under.err, slashes("club/2023/spring/a.ugi") + ": cannot create folder file" +
                             ": Not a directory; stopped with 2 records not written\n"
                             "0 converted, 0 failed, 0 skipped, 2 not written (no output folder)\n");
#ifndef _WIN32
    if (testing_support::canRunUnprivileged()) {
        fs::create_directories(dir / "locked");
        fs::permissions(dir / "locked", static_cast<fs::perms>(0555));
        ChildSetup nobody;
        nobody.workingDirectory = dir.path().string();
        nobody.unprivileged = true;
        const Outcome locked = run(UGI2SGF, {"-d", "locked/sub", "club"}, nobody);
        EXPECT_EQ(locked.err, "club/2023/spring/a.ugi: cannot create folder locked/sub: Permission denied; "
                              "stopped with 2 records not written\n"
                              "0 converted, 0 failed, 0 skipped, 2 not written (no output folder)\n");
    }
#endif
}

// Every message shows a name's control characters, the bytes that are not UTF-8 and the characters
// that would reorder the line as escapes, so that a name cannot talk to the terminal or forge a
// line; a name in any script is shown as it is. The single record, the batch and usage errors alike.
TEST(Batch, NamesAreShownWithControlCharactersEscaped)
{
    const std::pair<std::string, std::string> shown[] = {
        {u8"名人戦 é😀 a\\b", u8"名人戦 é😀 a\\b"},
        {"a\n\x1b[31mb\r\t\x7f", "a\\n\\x1b[31mb\\r\\t\\x7f"},
        {"\xc2\x85\xe2\x80\xae\xe2\x80\xa8\xe2\x81\xa6", "\\u0085\\u202e\\u2028\\u2066"},
        {"\xe9t\xc0\xaf\xed\xa0\x80\xf8\x88\x80\x80\x80\xe5\x90", // Latin-1, overlong, surrogate, 5 bytes,
                                                                  // cut
         "\\xe9t\\xc0\\xaf\\xed\\xa0\\x80\\xf8\\x88\\x80\\x80\\x80\\xe5\\x90"},
    };
    for (const auto &[text, expected] : shown)
        EXPECT_EQ(quillarn::shownText(text), expected);
#ifndef _WIN32
    ScratchDir dir;
    const std::string odd = "a\n\x1b[31mb\xe9";
    const std::string oddShown = "a\\n\\x1b[31mb\\xe9";
    copyData("missing-date.ugi", dir / "in" / (odd + "1.ugi"));
    copyData("basic-game.ugi", dir / "in" / (odd + "2.ugi"));
    writeBytes(dir / (odd + ".sgf"), "kept");
    Outcome run = ugi2sgf(dir.path(), {"in/" + odd + "1.ugi"});
    EXPECT_EQ(run.err, "in/" + oddShown + "1.ugi: missing header key \"Date=\"\n");
    run = ugi2sgf(dir.path(), {"-o", odd + ".sgf", "in/" + odd + "2.ugi"});
    EXPECT_EQ(run.err, "in/" + oddShown + "2.ugi: " + oddShown + ".sgf exists (--force replaces it)\n");
    run = ugi2sgf(dir.path(), {"--bogus" + odd});
    EXPECT_EQ(run.err, "ugi2sgf: unknown option --bogus" + oddShown + "\nTry 'ugi2sgf --help'.\n");
    EXPECT_EQ(ugi2sgf(dir.path(), {"-d", "out", "in"}).err,
              "in/" + oddShown + "1.ugi: missing header key \"Date=\"\n1 converted, 1 failed, 0 skipped\n");
    EXPECT_EQ(ugi2sgf(dir.path(), {"-v", "-d", "out", "in"}).err,
              "in/" + oddShown + "1.ugi: missing header key \"Date=\"\nin/" + oddShown +
                  "2.ugi: skipped, out/" + oddShown +
                  "2.sgf exists (--force replaces it)\n1 skipped: its output exists (--force replaces it)\n"
                  "0 converted, 1 failed, 1 skipped\n");
    EXPECT_EQ(readBytes(dir / "out" / (odd + "2.sgf")), basicGameUtf8);
    // The progress line too: the terminal gets no sequence but the line's own.
    const std::string terminal = ugi2sgfOnTerminal(dir.path(), {"--force", "-d", "out", "in"});
    EXPECT_NE(terminal.find("/2 in/" + oddShown), std::string::npos) << terminal;
    EXPECT_EQ(terminal.find("\x1b[31m"), std::string::npos) << terminal;
#endif
}

TEST(Batch, HelpHasOneLinePerOption)
{
    const Outcome help = ugi2sgf(fs::current_path(), {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *option :
         {"\n  -o FILE ", "\n  -d DIR ", "\n  --in-place ", "\n  --force ", "\n  --encoding NAME ",
          "\n  -q, --quiet ", "\n  -v, --verbose ", "\n  -h, --help ", "\n  --version "})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// With worker threads the records finish in any order; the messages must not.
TEST(Batch, MessagesKeepTheOrderOfTheRecordsWithWorkers)
{
    ScratchDir dir;
    std::string expected;
    for (int n = 0; n < 40; ++n) {
        const std::string name =
            std::string(1, static_cast<char>('a' + n / 10)) + std::to_string(n % 10) + ".ugi";
        const bool fails = n % 3 == 0;
        copyData(fails ? "missing-date.ugi" : "basic-game.ugi", dir / "in" / name);
        if (fails)
            expected += (dir / "in" / name).string() + ": missing header key \"Date=\"\n";
    }
    const std::vector<quillarn::BatchItem> items = quillarn::planBatch({dir / "in"}, dir / "out");
    ASSERT_EQ(items.size(), 40u);
    quillarn::BatchOptions options;
    options.workers = 4;
    std::ostringstream messages;
    const quillarn::BatchSummary summary = quillarn::runBatch(items, options, messages);
    EXPECT_EQ(messages.str(), expected);
    EXPECT_EQ(quillarn::summaryLine(summary), "26 converted, 14 failed, 0 skipped");
    EXPECT_EQ(readBytes(dir / "out" / "d8.sgf"), dataFile("basic-game.sgf"));
}

// After an interruption no record is started, the run ends and says how many were left.
TEST(Batch, InterruptionStopsStartingRecords)
{
    ScratchDir dir;
    for (int n = 0; n < 20; ++n)
        copyData("basic-game.ugi", dir / "in" / ("g" + std::to_string(n) + ".ugi"));
    const std::vector<quillarn::BatchItem> items = quillarn::planBatch({dir / "in"}, dir / "out");
    const std::atomic<int> interrupted{SIGINT};
    for (const int workers : {1, 4}) {
        quillarn::BatchOptions options;
        options.workers = workers;
        options.interrupted = &interrupted;
        std::ostringstream messages;
        const quillarn::BatchSummary summary = quillarn::runBatch(items, options, messages);
        EXPECT_EQ(quillarn::summaryLine(summary),
                  "0 converted, 0 failed, 0 skipped, 20 not converted (interrupted)");
        EXPECT_EQ(messages.str(), "");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }

    // Interrupted during the run: the groups begun are committed, and the counts say so exactly.
    std::atomic<int> later{0};
    quillarn::BatchOptions options;
    options.workers = 4;
    options.groupLimits.files = 3;
    options.interrupted = &later;
    std::thread interrupter([&later] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        later = SIGINT;
    });
    std::ostringstream messages;
    const quillarn::BatchSummary summary = quillarn::runBatch(items, options, messages);
    interrupter.join();
    EXPECT_EQ(summary.converted + summary.notStarted, 20u);
    std::size_t files = 0;
    if (fs::exists(dir / "out")) {
        for (const auto &entry : fs::directory_iterator(dir / "out")) {
            EXPECT_EQ(readBytes(entry.path()), dataFile("basic-game.sgf")) << entry.path();
            ++files;
        }
    }
    EXPECT_EQ(files, summary.converted);
}

#ifndef _WIN32
// A batch killed at any moment leaves every output absent, as it was before, or complete, never
// partial; the temporary files it leaves are removed by the next run, which converts everything.
TEST(Batch, AKilledBatchLeavesEveryOutputAbsentAsBeforeOrComplete)
{
    ScratchDir dir;
    constexpr int records = 120;
    const std::string kinds[] = {"basic-game", "japanese-names"};
    std::vector<fs::path> targets;
    std::vector<std::string> expected;
    for (int n = 0; n < records; ++n) {
        const std::string name = "f" + std::to_string(n / 50) + "/g" + std::to_string(n);
        copyData(kinds[n % 2] + ".ugi", dir / "in" / (name + ".ugi"));
        targets.push_back(dir / "out" / (name + ".sgf"));
        expected.push_back(dataFile(kinds[n % 2] + ".sgf"));
        if (n % 3 == 0) {
            fs::create_directories(targets.back().parent_path());
            writeBytes(targets.back(), "previous record");
        }
    }
    // The kills are spread over the time an undisturbed run takes.
    const std::vector<quillarn::BatchItem> items = quillarn::planBatch({dir / "in"}, dir / "out");
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    ASSERT_GT(::waitpid(startBatch(quillarn::planBatch({dir / "in"}, dir / "timing")), &status, 0), 0);
    const auto undisturbed =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> delay(0, undisturbed.count());

    int leftTemporaries = 0; // kills that caught records on their way
    for (int kill = 0; kill < 20; ++kill) {
        const pid_t child = startBatch(items);
        ASSERT_GT(child, 0);
        ::usleep(static_cast<useconds_t>(delay(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        for (int n = 0; n < records; ++n) {
            std::error_code error;
            if (!fs::exists(targets[n], error)) {
                EXPECT_NE(n % 3, 0) << targets[n];
                continue;
            }
            const std::string bytes = readBytes(targets[n]);
            EXPECT_TRUE(bytes == expected[n] || (n % 3 == 0 && bytes == "previous record")) << targets[n];
        }
        for (const auto &entry : fs::recursive_directory_iterator(dir / "out")) {
            if (entry.path().filename().string()[0] == '.') {
                ++leftTemporaries;
                break;
            }
        }
    }
    EXPECT_GT(leftTemporaries, 0);

    // A later run finds them at once: nobody holds their locks.
    const Outcome rerun = ugi2sgf(dir.path(), {"--encoding", "cp932", "--force", "-d", "out", "in"});
    EXPECT_EQ(rerun.status, 0);
    EXPECT_EQ(rerun.err, "120 converted, 0 failed, 0 skipped\n");
    std::size_t files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(dir / "out")) {
        if (entry.is_regular_file()) {
            EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path(); // no temporary file
            ++files;
        }
    }
    EXPECT_EQ(files, static_cast<std::size_t>(records));
    for (int n = 0; n < records; ++n)
        EXPECT_EQ(readBytes(targets[n]), expected[n]) << targets[n];
}
#endif

#ifndef _WIN32
// A run that is stopped (Ctrl+Z) holds its temporary files however long it stays stopped: a second
// run on the same outputs leaves them alone, and the first, once it goes on, puts each in place.
TEST(Batch, TemporariesOfAStoppedRunAreKeptByASecondRun)
{
    ScratchDir dir;
    constexpr int records = 400;
    for (int n = 0; n < records; ++n)
        copyData("basic-game.ugi", dir / "in" / ("g" + std::to_string(n) + ".ugi"));
    const auto temporaries = [&] {
        std::set<fs::path> found;
        std::error_code error;
        for (fs::directory_iterator entry(dir / "out", error), end; !error && entry != end;
             entry.increment(error)) {
            if (quillarn::isTemporaryFileName(entry->path().filename()))
                found.insert(entry->path());
        }
        return found;
    };
    const pid_t first = startBatch(quillarn::planBatch({dir / "in"}, dir / "out"));
    ASSERT_GT(first, 0);
    std::set<fs::path> held;
    for (int tries = 0; tries < 100000 && held.empty(); ++tries) {
        if (!temporaries().empty()) {
            ::kill(first, SIGSTOP);
            held = temporaries(); // those there while it stands still
            if (held.empty())
                ::kill(first, SIGCONT);
        }
    }
    ASSERT_FALSE(held.empty()) << "the first run was never caught with a temporary file";

    const Outcome second = ugi2sgf(dir.path(), {"-q", "--encoding", "cp932", "--force", "-d", "out", "in"});
    EXPECT_EQ(second.status, 0) << second.err;
    for (const fs::path &temporary : held)
        EXPECT_TRUE(fs::exists(temporary)) << temporary;

    ::kill(first, SIGCONT);
    int status = 0;
    ASSERT_EQ(::waitpid(first, &status, 0), first);
    for (const auto &entry : fs::directory_iterator(dir / "out"))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path(); // nothing of either left
    for (int n = 0; n < records; ++n)
        EXPECT_EQ(readBytes(dir / "out" / ("g" + std::to_string(n) + ".sgf")), dataFile("basic-game.sgf"));
}

// A batch ended by a signal or by a reader of its messages that goes away: the records begun are
// committed and whole, no temporary file stays, the summary says what was done (where it can still
// be written), and the program ends as the signal ends it (SIGPIPE for the closed pipe). A hang-up
// that was ignored when the program started (nohup) is ignored.
TEST(Batch, SignalsAndAClosedPipeEndTheRunWithTheGroupsBegunCommitted)
{
    ScratchDir dir;
    constexpr std::size_t records = 2000; // every other one fails, so that messages keep coming
    copyData("missing-date.ugi", dir / "failing.ugi");
    copyData("basic-game.ugi", dir / "good.ugi");
    fs::create_directories(dir / "in");
    for (std::size_t n = 0; n < records; ++n)
        fs::create_hard_link(dir / (n % 2 == 0 ? "failing.ugi" : "good.ugi"),
                             dir / "in" / ("g" + std::to_string(n) + ".ugi"));
    const std::string good = dataFile("basic-game.sgf");
    for (const auto &[signal, ignored] :
         {std::pair(SIGINT, false), std::pair(SIGTERM, false), std::pair(SIGHUP, false),
          std::pair(SIGHUP, true), std::pair(0, false)}) {
        SCOPED_TRACE(signal == 0 ? "closed pipe"
                                 : strsignal(signal) + std::string(ignored ? ", ignored" : ""));
        fs::remove_all(dir / "out");
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
#ifdef F_SETPIPE_SZ
        ::fcntl(pipeEnds[0], F_SETPIPE_SZ, 4096); // a write fails soon after the reader goes
#endif
        const pid_t child = ::fork();
        if (child == 0) {
            for (const int reset : {SIGINT, SIGTERM, SIGHUP})
                std::signal(reset, reset == signal && ignored ? SIG_IGN : SIG_DFL);
            const int null = ::open("/dev/null", O_RDWR);
            if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(pipeEnds[1], 2) < 0 ||
                ::chdir(dir.path().c_str()) != 0)
                ::_exit(127);
            ::close(pipeEnds[0]);
            ::execl(UGI2SGF, UGI2SGF, "--encoding", "cp932", "-d", "out", "in", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        // The first message shows that the run has begun; then the signal, or the reader goes.
        std::string err;
        char c = 0;
        while (err.find('\n') == std::string::npos && ::read(pipeEnds[0], &c, 1) == 1)
            err += c;
        if (signal != 0) {
            ::kill(child, signal);
            for (char buffer[4096];;) {
                const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
                if (got <= 0)
                    break;
                err.append(buffer, static_cast<std::size_t>(got));
            }
        }
        ::close(pipeEnds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (ignored)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == (signal == 0 ? SIGPIPE : signal))
                << status;

        std::size_t converted = 0;
        std::error_code absent; // the folder is made with the first record written, if any
        for (const auto &entry : fs::recursive_directory_iterator(dir / "out", absent)) {
            EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path(); // no temporary file
            EXPECT_EQ(readBytes(entry.path()), good) << entry.path();
            ++converted;
        }
        if (signal == 0)
            continue;
        // Each message a failing record's, then the summary, which counts every record.
        std::size_t failed = 0;
        std::size_t start = 0;
        for (std::size_t end; (end = err.find('\n', start)) != std::string::npos && end + 1 < err.size();
             start = end + 1, ++failed) {
            const std::string line = err.substr(start, end + 1 - start);
            EXPECT_EQ(line.substr(line.find(':')), ": missing header key \"Date=\"\n") << line;
        }
        // The records not converted are counted as far as the walk had gone: it goes no further.
        const std::string summary = err.substr(start);
        const std::string done =
            std::to_string(converted) + " converted, " + std::to_string(failed) + " failed, 0 skipped";
        if (ignored) {
            EXPECT_EQ(summary, done + "\n");
            EXPECT_EQ(converted + failed, records);
            continue;
        }
        ASSERT_EQ(summary.substr(0, done.size() + 2), done + ", ") << summary;
        const std::size_t left = std::stoul(summary.substr(done.size() + 2));
        const std::string rest = summary.substr(summary.find(" not converted (interrupted)"));
        EXPECT_TRUE(rest == " not converted (interrupted)\n"
                        ? converted + failed + left == records
                        : rest == " not converted (interrupted), the rest "
                                  "not looked at\n" &&
                              converted + failed + left < records)
            << summary;
    }
}
#endif

#ifndef _WIN32
// A batch onto a disk that fills up: the records written stay whole, then nothing more is tried, and
// the disk is told once, with the count of records not written, which the summary adds.
TEST(Batch, AFullDiskIsToldOnceWithTheRecordsNotWritten)
{
    ScratchDir dir;
    constexpr std::size_t records = 300;
    for (std::size_t n = 0; n < records; ++n)
        copyData("basic-game.ugi", dir / "in" / ("r" + std::to_string(1000 + n) + ".ugi"));
    writeBytes(dir / "expected.sgf", basicGameUtf8);
    fs::create_directories(dir / "out");
    // The disk is mounted in a mount namespace of ugi2sgf's own, and looked at there.
    ChildSetup setup;
    setup.workingDirectory = dir.path().string();
    const Outcome run = testing_support::run(
        "/usr/bin/unshare",
        {"-m", "--propagation", "private", "sh", "-c",
         "mount -t tmpfs -o size=64k tmpfs out || exit 77; \"$0\" -d out in; status=$?; ls -A out | grep -v "
         "'^r1...\\.sgf$'; for f in out/*; do cmp -s $f expected.sgf || echo $f; done; ls out | wc -l; exit "
         "$status",
         UGI2SGF},
        setup);
    if (run.status == 77 || run.err.rfind("unshare:", 0) == 0)
        GTEST_SKIP() << "no tmpfs in a mount namespace of the test's own: " << run.err;
    EXPECT_EQ(run.status, 1);
    const std::size_t written = std::strtoul(run.out.c_str(), nullptr, 10);
    EXPECT_EQ(run.out, std::to_string(written) + "\n"); // nothing but whole records
    const std::string lost = std::to_string(records - written);
    const std::string first = run.err.substr(0, 8); // "in/rNNNN" of the record told
    EXPECT_EQ(run.err, first + ".ugi: cannot write out/" + first.substr(3) +
                           ".sgf: No space left on device; stopped with " + lost + " records not written\n" +
                           std::to_string(written) + " converted, 0 failed, 0 skipped, " + lost +
                           " not written (disk full)\n");
}
#endif
