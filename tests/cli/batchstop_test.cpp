// How a batch ends other than by converting everything: interrupted, killed, stopped and continued,
// ended by a signal or a closed pipe, or by a full disk; each leaves every output whole or absent.
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
using testing_support::Outcome;
using testing_support::readBytes;
using testing_support::run;
using testing_support::ScratchDir;
using testing_support::writeBytes;

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
            int stopped = 0; // a signal is not taken at once: wait until it stands still
            ::waitpid(first, &stopped, WUNTRACED);
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
