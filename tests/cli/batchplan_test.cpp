// The plan of a batch: the folders kept below each path, the records of several paths that share a
// target, names compared as the file system compares them.
#include "batchsupport.h"

#include "../support/datacases.h"

#include "batchplan.h"
#include "casefold.h"
#include "recordfile.h"
#include "recordname.h"
#include "shown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;
using namespace batch_support;
using testing_support::listing;
using testing_support::Outcome;
using testing_support::readBytes;
using testing_support::run;
using testing_support::ScratchDir;

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
    // Records that share an output are counted in one line; -v names each, with the way out.
    run = ugi2sgf(dir.path(), {"--encoding", "cp932", "--force", "-d", "merged", "club", "other"});
    EXPECT_EQ(run.status, 1);
    const std::string wayOut = "; not converted (-o NAME converts it alone)\n";
#ifdef _WIN32
    // Names that differ only in letter case are one file: kisei.UGI replaced kisei.ugi.
    EXPECT_EQ(run.err, "1 failed: its output is also the output of a record before it (-v names it; -o NAME "
                       "converts it alone)\n2 converted, 1 failed, 0 skipped\n");
    run = ugi2sgf(dir.path(), {"-v", "--encoding", "cp932", "--force", "-d", "merged", "club", "other"});
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1),
              slashes("other/kisei.ugi: its output merged/kisei.sgf is also the output of club/kisei.ugi") +
                  wayOut);
#else
    EXPECT_EQ(run.err,
              "2 failed: their outputs are also the outputs of records before them (-v names each; -o "
              "NAME converts one alone)\n2 converted, 2 failed, 0 skipped\n");
    run = ugi2sgf(dir.path(), {"-v", "--encoding", "cp932", "--force", "-d", "merged", "club", "other"});
    EXPECT_EQ(run.err.substr(0, run.err.find("2 failed")),
              "club/kisei.ugi: its output merged/kisei.sgf is also the output of club/kisei.UGI" + wayOut +
                  "other/kisei.ugi: its output merged/kisei.sgf is also the output of club/kisei.UGI" +
                  wayOut);
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
    const std::string sharedE = u8"x2\\é.ugi: its output folded\\é.sgf is also the output of x1\\É.ugi; not "
                                u8"converted (-o NAME converts it alone)\n";
    const std::string sharedA =
        u8"y2\\ａ戦.ugi: its output folded\\ａ戦.sgf is also the output of y1\\Ａ戦.ugi; "
        u8"not converted (-o NAME converts it alone)\n";
    const std::string shared =
        "2 failed: their outputs are also the outputs of records before them (-v names "
        "each; -o NAME converts one alone)\n";
    run = ugi2sgf(dir.path(), {"-v", "--force", "-d", "folded", "x1", "x2", "y1", "y2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, sharedE + sharedA + shared + "2 converted, 2 failed, 0 skipped\n");
    // Again without --force: the first records' outputs are there now.
    run = ugi2sgf(dir.path(), {"-v", "-d", "folded", "x1", "x2", "y1", "y2"});
    EXPECT_EQ(run.err, u8"x1\\É.ugi: skipped, folded\\É.sgf exists (--force replaces it)\n" + sharedE +
                           u8"y1\\Ａ戦.ugi: skipped, folded\\Ａ戦.sgf exists (--force replaces it)\n" +
                           sharedA + shared +
                           "2 skipped: their outputs exist (--force replaces them)\n"
                           "0 converted, 2 failed, 2 skipped\n");
    EXPECT_EQ(readBytes(dir / "folded" / fs::u8path(u8"é.sgf")), basicGameUtf8);
    EXPECT_EQ(readBytes(dir / "folded" / fs::u8path(u8"ａ戦.sgf")), basicGameUtf8);
#endif
}

#ifndef _WIN32
namespace {

// The items of a plan as a walk of every path by itself would find them, with every target claimed
// by the first record in order over all of them: what a plan of several paths must give, however
// it remembers the claims.
std::vector<std::string> claimedOneByOne(const std::vector<fs::path> &paths,
                                         const std::optional<fs::path> &out)
{
    const auto key = [](const fs::path &path) { return fs::absolute(path).lexically_normal().string(); };
    std::vector<std::pair<fs::path, fs::path>> records; // source, target
    for (const fs::path &path : paths) {
        if (!fs::is_directory(path)) {
            records.emplace_back(path, (out ? *out : path.parent_path()) /
                                           quillarn::targetFileName(path.filename().string()));
            continue;
        }
        // Depth first, each folder's entries by name, a folder's name taken with "/" after it.
        const std::function<void(const fs::path &)> walk = [&](const fs::path &relative) {
            std::vector<std::pair<std::string, fs::directory_entry>> entries;
            for (const fs::directory_entry &entry : fs::directory_iterator(path / relative)) {
                const bool folder = entry.is_directory() && !entry.is_symlink();
                entries.emplace_back(entry.path().filename().string() + (folder ? "/" : ""), entry);
            }
            std::sort(entries.begin(), entries.end(),
                      [](const auto &a, const auto &b) { return a.first < b.first; });
            for (const auto &[name, entry] : entries) {
                const fs::path below = relative / entry.path().filename();
                if (name.back() == '/')
                    walk(below);
                else if (quillarn::isRecordFileName(name))
                    records.emplace_back(path / below, (out ? *out / relative : path / relative) /
                                                           quillarn::targetFileName(name));
            }
        };
        walk({});
    }
    std::map<std::string, std::pair<std::string, std::string>> owners; // target -> source key, source
    std::vector<std::string> items;
    for (const auto &[source, target] : records) {
        const auto [owner, first] = owners.try_emplace(key(target), key(source), source.string());
        if (!first && owner->second.first == key(source))
            continue; // the same record, reached again
        items.push_back(
            source.string() + " -> " +
            (first ? target.string()
                   : quillarn::alsoTheOutputOf(quillarn::shownPath(target), owner->second.second).english()));
    }
    return items;
}

std::vector<std::string> planned(const std::vector<fs::path> &paths, const std::optional<fs::path> &out)
{
    std::vector<std::string> items;
    for (const quillarn::BatchItem &item : quillarn::planBatch(paths, out))
        items.push_back(item.source.string() + " -> " +
                        (item.failure.empty() ? item.target.string() : item.failure.english()));
    return items;
}

} // namespace

// Records of several paths, in place and under -d: each target goes to the first record that has it
// over all the paths, a record reached twice (under any spelling) is one, and a folder behind a link
// is not walked; the plan finds that by looking again at the earlier paths' folders.
TEST(BatchPlan, SeveralPathsGiveEachTargetToItsFirstRecordWithoutRememberingThem)
{
    ScratchDir dir;
    for (const char *name : {"in/a.ugi", "in/b.ugi", "in/sub/a.ugi", "in/sub/c.UGI", "in/sub/c.ugi",
                             "other/a.ugi", "other/sub/a.ugi", "other/sub/d.ugi", "lone/a.ugi", "lone/b.ugi"})
        copyData("basic-game.ugi", dir / name);
    fs::create_directory_symlink("../other", dir / "in" / "link");
    const std::vector<std::vector<fs::path>> combinations = {
        {"in", "other"},
        {"other", "in"},
        {"in", "in"},
        {"in", "./in"},
        {"in", "in/sub"},
        {"in/sub", "in"},
        {"in/a.ugi", "in"},
        {"in", "in/a.ugi"},
        {"lone/a.ugi", "in/a.ugi", "other"},
        {"in/link", "in"},
        {"in/sub/a.ugi", "other/sub", "in"},
        {"lone", "in/sub/../a.ugi", "other/sub/d.ugi", "in"},
    };
    for (const auto &given : combinations) {
        for (const std::optional<fs::path> &out :
             {std::optional<fs::path>(), std::optional<fs::path>(dir / "out")}) {
            std::string trace = out ? "-d out" : "in place";
            std::vector<fs::path> paths;
            for (const fs::path &path : given) {
                trace += " " + path.string();
                paths.push_back(dir / path);
            }
            SCOPED_TRACE(trace);
            EXPECT_EQ(planned(paths, out), claimedOneByOne(paths, out));
        }
    }
}
#endif
