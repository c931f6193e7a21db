// A power cut at every step of the writer, on a file system in memory that keeps apart what has
// reached its disk: after the cut only that is left, and every final name must hold nothing, its
// previous file or the whole new record, a record reported written must be there, and nothing else
// that was there may go but the leftovers of killed writes of a target written. The steps include
// the removal of those leftovers and the making of the folders written into.
#include "../support/forgetfuldisk.h"

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

// Checks what is on disk after a power cut (or none) against the files before and the paths
// reported written.
void checkAfterRestart(const ForgetfulDisk &disk, const ForgetfulDisk::Files &before,
                       const std::set<std::string> &written, bool namesWritten)
{
    std::set<std::string> targets;
    for (const Target &target : batchTargets)
        targets.insert(target.path);
    const ForgetfulDisk::Files after = disk.afterRestart(namesWritten);
    for (const auto &[path, content] : after) {
        const auto old = before.find(path);
        if (targets.count(path) != 0) {
            EXPECT_TRUE(content == newRecord(path) || (old != before.end() && content == old->second))
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
        EXPECT_TRUE(found != after.end() && found->second == newRecord(path))
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
