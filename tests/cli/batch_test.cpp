// ugi2sgf over folders and many files: what it writes where, what it leaves alone, what it says
// and the exit status; UTF-8 output; progress only on a terminal; messages in order with workers.
#include "batchsupport.h"

#include "../support/datacases.h"

#include "batchplan.h"
#include "casefold.h"
#include "recordfile.h"
#include "shown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;
using namespace batch_support;
using testing_support::ChildSetup;
using testing_support::DataCase;
using testing_support::listing;
using testing_support::Outcome;
using testing_support::readBytes;
using testing_support::run;
using testing_support::ScratchDir;
using testing_support::writeBytes;

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
    EXPECT_NE(shown.find("\rlooking… 1 folders\x1b[K\r\x1b[K"), std::string::npos) << shown;
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

    // Interrupted while a large tree is still being walked: the walk stops, nothing is converted,
    // and the summary says so.
    for (int i = 0; i < 1000; ++i)
        fs::create_directories(dir / "in" / "tree" / std::to_string(i) / "a" / "b" / "c");
    const std::string walked =
        ugi2sgfOnTerminal(dir.path(), {"--force", "-d", "out", "in"}, SIGTERM, "looking");
    EXPECT_NE(walked.find("0 converted, 0 failed, 0 skipped, "), std::string::npos) << walked;
    EXPECT_NE(walked.find(" not converted (interrupted), the rest not looked at\r\n"), std::string::npos)
        << walked;
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
    for (const char *option : {"\n  -o FILE ", "\n  -d DIR ", "\n  --in-place ", "\n  --force ",
                               "\n  --encoding NAME ", "\n  -q, --quiet ", "\n  -v, --verbose ",
                               "\n  -h, --help ", "\n  --version ", "\n  -u, --update ", "\n  --no-times "})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// Outputs keep their sources' times, as an archive copy does, unless --no-times; --update converts
// again only the records whose source is newer than their output, and counts them apart. -o does
// the same for its one record.
TEST(Batch, OutputsKeepTheirSourcesTimesAndUpdateConvertsNewerSources)
{
    ScratchDir dir;
    const auto at = [](int days) { return fs::file_time_type::clock::now() - std::chrono::hours(24 * days); };
    const auto days = [&](const fs::path &path) {
        return std::chrono::duration_cast<std::chrono::hours>(fs::file_time_type::clock::now() -
                                                              fs::last_write_time(path))
                   .count() /
               24;
    };
    copyData("basic-game.ugi", dir / "in" / "old.ugi");
    copyData("escaped-values.ugi", dir / "in" / "fixed.ugi");
    fs::last_write_time(dir / "in" / "old.ugi", at(3000));
    fs::last_write_time(dir / "in" / "fixed.ugi", at(20));
    EXPECT_EQ(ugi2sgf(dir.path(), {"-q", "-d", "out", "in"}).status, 0);
    EXPECT_EQ(days(dir / "out" / "old.sgf"), 3000);
    EXPECT_EQ(days(dir / "out" / "fixed.sgf"), 20);

    // The source fixed since: converted again, with its time; the other left alone.
    writeBytes(dir / "in" / "fixed.ugi", dataFile("basic-game.ugi"));
    fs::last_write_time(dir / "in" / "fixed.ugi", at(2));
    const Outcome update = ugi2sgf(dir.path(), {"--update", "-d", "out", "in"});
    EXPECT_EQ(
        update.err,
        "1 skipped: its output exists (--force replaces it)\n0 converted, 1 updated, 0 failed, 1 skipped\n");
    EXPECT_EQ(readBytes(dir / "out" / "fixed.sgf"), readBytes(dir / "out" / "old.sgf"));
    EXPECT_EQ(days(dir / "out" / "fixed.sgf"), 2);
    EXPECT_EQ(ugi2sgf(dir.path(), {"-u", "-d", "out", "in"}).err,
              "2 skipped: their outputs exist (--force replaces them)\n0 converted, 0 failed, 2 skipped\n");

    // --no-times: the time of the write; -o keeps the time as a batch does, and updates as one.
    EXPECT_EQ(ugi2sgf(dir.path(), {"-q", "--no-times", "--in-place", "in"}).status, 0);
    EXPECT_EQ(days(dir / "in" / "old.sgf"), 0);
    EXPECT_EQ(ugi2sgf(dir.path(), {"-o", "one.sgf", "in/old.ugi"}).status, 0);
    EXPECT_EQ(days(dir / "one.sgf"), 3000);
    EXPECT_EQ(ugi2sgf(dir.path(), {"-u", "-o", "one.sgf", "in/fixed.ugi"}).status, 0); // a newer source
    EXPECT_EQ(days(dir / "one.sgf"), 2);
    fs::last_write_time(dir / "in" / "old.ugi", at(1000));
    EXPECT_EQ(ugi2sgf(dir.path(), {"-u", "-o", "one.sgf", "in/old.ugi"}).status, 1); // an older one: kept
    EXPECT_EQ(days(dir / "one.sgf"), 2);
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
