// A power cut at every step of the writer, on a file system in memory that keeps apart what has
// reached its disk: after the cut only that is left, and every final name must hold nothing, its
// previous file or the whole new record, a record reported written must be there, and nothing else
// that was there may go but the leftovers of killed writes of a target written. The steps include
// the removal of those leftovers, ugi2sgf's walk of its sources and the making of the folders
// written into.
#include "../support/forgetfuldisk.h"
#include "records.h"

#include "batch.h"
#include "batchplan.h"
#include "groupwriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

using testing_support::ForgetfulDisk;

namespace {

const std::string diskA = "/quillarn-power-cut/a";
const std::string diskB = "/quillarn-power-cut/b";

// Leftovers of killed writes: of 1.sgf, which a write of 1.sgf removes, and of a target that is not
// written, which stays.
const std::string leftoverOf1 = diskA + "/.quillarn-6jbxobyiLeft00.tmp";
const std::string leftoverOfOther = diskA + "/.quillarn-ox0q7tq7Left00.tmp";

std::string newRecord(const std::string &path)
{
    return "(;CA[Shift_JIS]GN[" + path + "])\r\n";
}

// The sources of ugi2sgf's batch, in a folder and a subfolder, and their outputs in folders that
// the batch makes.
const std::string sources = "/quillarn-power-cut/in";
const std::string outputs = "/quillarn-power-cut/out";
const std::vector<std::string> sourceNames = {"c.ugi", "club/a.ugi", "club/b.ugi"};

std::string sourceOf(const std::string &name)
{
    testing_support::UgiFields fields;
    fields.title = name;
    return testing_support::ugiSource(fields);
}

// A way of writing: writes some of paths on disk (as Keep says for each) and returns the paths
// it reported written.
using Writing = std::function<std::set<std::string>(ForgetfulDisk &disk)>;

struct Target {
    std::string path;
    quillarn::ExistingTarget existing;
};

// The targets of the batch: replaced, new, kept (present, and absent), and new in folders that the
// batch makes.
const std::vector<Target> batchTargets = {
    {diskA + "/1.sgf", quillarn::ExistingTarget::Replace},
    {diskA + "/2.sgf", quillarn::ExistingTarget::Replace},
    {diskB + "/3.sgf", quillarn::ExistingTarget::Replace},
    {diskA + "/kept.sgf", quillarn::ExistingTarget::Keep},
    {diskB + "/4.sgf", quillarn::ExistingTarget::Keep},
    {diskB + "/new/deeper/5.sgf", quillarn::ExistingTarget::Keep},
};

// A batch's writing as ugi2sgf does it: the folder of each record made, groups of two, committed
// when full and at the end.
Writing batch(quillarn::FlushMethod method)
{
    return [method](ForgetfulDisk &disk) {
        quillarn::LeftoverTemporaries leftovers;
        quillarn::GroupLimits limits;
        limits.files = 2;
        limits.method = method;
        limits.system = &disk;
        quillarn::GroupWriter group(leftovers, limits);
        std::set<std::string> written;
        const auto commit = [&] {
            for (const auto &result : group.commit()) {
                if (result.reason.empty())
                    written.insert(batchTargets[result.id].path);
            }
        };
        for (std::size_t id = 0; id < batchTargets.size(); ++id) {
            const std::filesystem::path path = batchTargets[id].path;
            try {
                if (!group.makeFolders(path.parent_path()))
                    group.add(id, path, newRecord(batchTargets[id].path), batchTargets[id].existing);
            } catch (const quillarn::CommandFailure &) {
                // fails alone (the kept target exists)
            }
            if (group.full())
                commit();
        }
        commit();
        return written;
    };
}

// One record written by itself.
Writing oneRecord(const Target &target)
{
    return [target](ForgetfulDisk &disk) {
        quillarn::LeftoverTemporaries leftovers;
        quillarn::WriteOptions options;
        options.existing = target.existing;
        options.system = &disk;
        try {
            quillarn::writeFileAtomically(target.path, newRecord(target.path), leftovers, options);
            return std::set<std::string>{target.path};
        } catch (const quillarn::CommandFailure &) {
            return std::set<std::string>();
        }
    };
}

// ugi2sgf's batch of the folder of sources into the folder of outputs, in groups of two: returns
// the outputs of the records that it did not report failed (by their sources' names).
Writing ugi2sgfBatch(quillarn::FlushMethod method)
{
    return [method](ForgetfulDisk &disk) {
        struct Messages : quillarn::BatchStatus {
            std::string said;
            void progress(std::size_t, std::size_t, const std::filesystem::path &) override {}
            void message(const std::string &lines) override { said += lines; }
        } status;
        struct Walked : quillarn::BatchItems {
            explicit Walked(ForgetfulDisk &disk) : plan({sources}, outputs, disk) {}
            bool next(quillarn::BatchItem &item) override
            {
                return plan.next(item) && (items.push_back(item), true);
            }
            quillarn::BatchPlan plan;
            std::vector<quillarn::BatchItem> items;
        } walked(disk);
        quillarn::BatchOptions options;
        options.workers = 1;
        options.groupLimits.files = 2;
        options.groupLimits.method = method;
        options.system = &disk;
        const quillarn::BatchSummary summary = quillarn::runBatch(walked, 0, options, status);
        std::set<std::string> written;
        for (const quillarn::BatchItem &item : walked.items) {
            if (item.failure.empty() && status.said.find(item.source.string() + ": ") == std::string::npos)
                written.insert(item.target.string());
        }
        EXPECT_EQ(written.size(), summary.converted) << status.said;
        return written;
    };
}

// The final names that a writing may write, and what each holds when written.
std::map<std::string, std::string> targets()
{
    std::map<std::string, std::string> records;
    for (const Target &target : batchTargets)
        records[target.path] = newRecord(target.path);
    for (const std::string &name : sourceNames) {
        const std::string output = outputs + "/" + name.substr(0, name.size() - 4) + ".sgf";
        records[output] = quillarn::convertSource(sourceOf(name), {}).bytes;
    }
    return records;
}

// Checks what is on disk after a power cut (or none) against the files before and the paths
// reported written.
void checkAfterRestart(const ForgetfulDisk &disk, const ForgetfulDisk::Files &before,
                       const std::set<std::string> &written, bool namesWritten)
{
    static const std::map<std::string, std::string> records = targets();
    const ForgetfulDisk::Files after = disk.afterRestart(namesWritten);
    for (const auto &[path, content] : after) {
        const auto old = before.find(path);
        const auto record = records.find(path);
        if (record != records.end()) {
            EXPECT_TRUE(content == record->second || (old != before.end() && content == old->second))
                << path << " holds \"" << content << "\"";
        } else if (old != before.end()) {
            EXPECT_EQ(content, old->second) << path;
        } else {
            // An unfinished temporary file, which the next write of its target removes.
            EXPECT_TRUE(quillarn::isTemporaryFileName(std::filesystem::path(path).filename())) << path;
        }
    }
    for (const auto &[path, content] : before) {
        if (path != leftoverOf1) {
            EXPECT_EQ(after.count(path), 1u) << path << " is lost";
        }
    }
    for (const std::string &path : written) {
        const auto found = after.find(path);
        EXPECT_TRUE(found != after.end() && found->second == records.at(path))
            << path << " was reported written but does not hold its record";
    }
}

} // namespace

TEST(PowerCut, EveryNameHoldsNothingItsPreviousFileOrTheWholeRecordAndWhatWasReportedLasts)
{
    const std::map<std::string, ForgetfulDisk::Files> folders = {
        {diskA,
         {{"1.sgf", "previous 1"},
          {"kept.sgf", "kept"},
          {leftoverOf1.substr(diskA.size() + 1), "(;CA[UTF-8]GN["},
          {leftoverOfOther.substr(diskA.size() + 1), "(;CA[UTF-8]GN["}}},
        {diskB, {{"3.sgf", "previous 3"}}},
        {sources, {{"c.ugi", sourceOf("c.ugi")}, {"notes.txt", "not a record"}}},
        {sources + "/club", {{"a.ugi", sourceOf("club/a.ugi")}, {"b.ugi", sourceOf("club/b.ugi")}}},
    };
    ForgetfulDisk::Files before;
    for (const auto &[folder, files] : folders) {
        for (const auto &[name, content] : files)
            before[folder + "/" + name] = content;
    }
    const std::map<std::string, Writing> writings = {
        {"batch flushed by file system", batch(quillarn::FlushMethod::FileSystem)},
        {"batch flushed file by file", batch(quillarn::FlushMethod::EachFile)},
        {"one record replacing a file", oneRecord({diskA + "/1.sgf", quillarn::ExistingTarget::Replace})},
        {"one new record", oneRecord({diskB + "/4.sgf", quillarn::ExistingTarget::Replace})},
        {"one new record kept if there", oneRecord({diskB + "/4.sgf", quillarn::ExistingTarget::Keep})},
        {"ugi2sgf -d flushed by file system", ugi2sgfBatch(quillarn::FlushMethod::FileSystem)},
        {"ugi2sgf -d flushed file by file", ugi2sgfBatch(quillarn::FlushMethod::EachFile)},
    };
    for (const auto &[name, writing] : writings) {
        // First without a cut, which tells how many calls the writing makes; then a cut after each.
        long calls = 0;
        for (long cut = -1; cut < calls; ++cut) {
            SCOPED_TRACE(name + (cut < 0 ? ": no power cut"
                                         : ": power cut after call " + std::to_string(cut) + " of " +
                                               std::to_string(calls)));
            ForgetfulDisk disk;
            for (const auto &[folder, files] : folders)
                disk.addFolder(folder, files);
            disk.cutPowerAfter(cut);
            const std::set<std::string> written = writing(disk);
            if (cut < 0) {
                calls = disk.calls();
                EXPECT_FALSE(written.empty());
            }
            for (const bool namesWritten : {false, true}) {
                SCOPED_TRACE(namesWritten ? "names not flushed written" : "names not flushed lost");
                checkAfterRestart(disk, before, written, namesWritten);
                // Done, a write of 1.sgf has removed its leftover.
                if (cut < 0 && written.count(diskA + "/1.sgf") != 0) {
                    EXPECT_EQ(disk.afterRestart(namesWritten).count(leftoverOf1), 0u);
                }
            }
        }
    }
}
