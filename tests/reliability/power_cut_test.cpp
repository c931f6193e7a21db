// A power cut at every step of the writer, on a file system in memory that keeps apart what has
// reached its disk: after the cut only that is left, and every final name must hold nothing, its
// previous file or the whole new record, and a record reported written must be there.
#include "groupwriter.h"
#include "writersystem.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace {

// A file system in memory whose power goes off after a given number of calls; from then on every
// call fails with EIO. A file's data reaches the disk when the file is flushed (fsync) and a name,
// created, renamed or removed, when its folder is flushed (fsync of the folder); syncfs flushes
// everything. Data that has not reached the disk is lost with the power; names that have not may
// be lost too, or may have been written by the system in its own time, which a careless order of
// flushes and renames would meet as a name on a file whose data is gone.
class ForgetfulDisk : public quillarn::WriterSystem {
public:
    using Files = std::map<std::string, std::string>; // name -> content

    // Puts a folder at path holding files, all on the disk.
    void addFolder(const std::string &path, const Files &files)
    {
        Folder &folder = folders_[path];
        for (const auto &[name, content] : files) {
            const auto file = std::make_shared<File>(File{content, content, 0640});
            folder.names[name] = folder.onDisk[name] = file;
            everyFile_.push_back(file);
        }
    }

    void cutPowerAfter(long calls) { cutAfter_ = calls; }
    long calls() const { return calls_; }

    // Returns what the folder at path holds once the power is back, its names as last flushed or,
    // when namesWritten, as last changed.
    Files afterRestart(const std::string &path, bool namesWritten) const
    {
        const Folder &folder = folders_.at(path);
        Files files;
        for (const auto &[name, file] : namesWritten ? folder.names : folder.onDisk)
            files[name] = file->onDisk;
        return files;
    }

    int openat(int at, const char *name, int flags, mode_t mode) override
    {
        if (!powered())
            return -1;
        if (at == AT_FDCWD) {
            const auto folder = folders_.find(name);
            if ((flags & O_DIRECTORY) == 0 || folder == folders_.end())
                return fail(ENOENT);
            return open({&folder->second, nullptr});
        }
        Folder *folder = open_.at(at).folder;
        if ((flags & O_CREAT) == 0 || folder->names.count(name) != 0)
            return fail(EEXIST);
        const auto file = std::make_shared<File>(File{{}, {}, mode & 07777});
        folder->names[name] = file;
        everyFile_.push_back(file);
        return open({folder, file});
    }

    ssize_t write(int descriptor, const void *bytes, std::size_t size) override
    {
        if (!powered())
            return -1;
        open_.at(descriptor).file->data.append(static_cast<const char *>(bytes), size);
        return static_cast<ssize_t>(size);
    }

    int fsync(int descriptor) override
    {
        if (!powered())
            return -1;
        const Open &open = open_.at(descriptor);
        if (open.file)
            open.file->onDisk = open.file->data;
        else
            open.folder->onDisk = open.folder->names;
        return 0;
    }

    int syncfs(int) override
    {
        if (!powered())
            return -1;
        for (const auto &file : everyFile_)
            file->onDisk = file->data;
        for (auto &[path, folder] : folders_)
            folder.onDisk = folder.names;
        return 0;
    }

    int startWriteBack(int) override { return powered() ? 0 : -1; }

    int close(int descriptor) override
    {
        if (!powered())
            return -1;
        open_.erase(descriptor);
        return 0;
    }

    int fstat(int descriptor, struct stat *info) override
    {
        if (!powered())
            return -1;
        const Open &open = open_.at(descriptor);
        describe(open.file ? open.file.get() : nullptr, info);
        return 0;
    }

    int fstatat(int at, const char *name, struct stat *info, int) override
    {
        if (!powered())
            return -1;
        const Names &names = open_.at(at).folder->names;
        const auto found = names.find(name);
        if (found == names.end())
            return fail(ENOENT);
        describe(found->second.get(), info);
        return 0;
    }

    ssize_t readlinkat(int, const char *, char *, std::size_t) override
    {
        return powered() ? fail(EINVAL) : -1;
    }

    int fchown(int, uid_t, gid_t) override { return powered() ? 0 : -1; }

    int fchmod(int descriptor, mode_t mode) override
    {
        if (!powered())
            return -1;
        open_.at(descriptor).file->mode = mode;
        return 0;
    }

    int renameat2(int fromAt, const char *from, int toAt, const char *to, unsigned flags) override
    {
        if (!powered())
            return -1;
        Names &fromNames = open_.at(fromAt).folder->names;
        Names &toNames = open_.at(toAt).folder->names;
        const auto file = fromNames.find(from);
        if (file == fromNames.end())
            return fail(ENOENT);
        if ((flags & quillarn::renameNoReplace) != 0 && toNames.count(to) != 0)
            return fail(EEXIST);
        const auto moved = file->second;
        fromNames.erase(file);
        toNames[to] = moved;
        return 0;
    }

    int unlinkat(int at, const char *name, int) override
    {
        if (!powered())
            return -1;
        return open_.at(at).folder->names.erase(name) == 1 ? 0 : fail(ENOENT);
    }

private:
    struct File {
        std::string data;
        std::string onDisk;
        mode_t mode;
    };
    using Names = std::map<std::string, std::shared_ptr<File>>;
    struct Folder {
        Names names;
        Names onDisk;
    };
    struct Open {
        Folder *folder;
        std::shared_ptr<File> file; // null for the folder itself
    };

    bool powered()
    {
        if (calls_ == cutAfter_) {
            errno = EIO;
            return false;
        }
        ++calls_;
        return true;
    }
    static int fail(int error)
    {
        errno = error;
        return -1;
    }
    int open(Open open)
    {
        open_[nextDescriptor_] = std::move(open);
        return nextDescriptor_++;
    }
    static void describe(const File *file, struct stat *info)
    {
        *info = {};
        info->st_dev = 1;
        info->st_uid = ::geteuid();
        info->st_gid = ::getegid();
        info->st_mode = file ? S_IFREG | file->mode : S_IFDIR | 0755;
        info->st_size = file ? static_cast<off_t>(file->data.size()) : 0;
    }

    std::map<std::string, Folder> folders_;
    std::vector<std::shared_ptr<File>> everyFile_;
    std::map<int, Open> open_;
    int nextDescriptor_ = 100;
    long calls_ = 0;
    long cutAfter_ = -1;
};

const std::string diskA = "/quillarn-power-cut/a";
const std::string diskB = "/quillarn-power-cut/b";

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

// The targets of the batch: replaced, new, and kept (present, and absent).
const std::vector<Target> batchTargets = {
    {diskA + "/1.sgf", quillarn::ExistingTarget::Replace},
    {diskA + "/2.sgf", quillarn::ExistingTarget::Replace},
    {diskB + "/3.sgf", quillarn::ExistingTarget::Replace},
    {diskA + "/kept.sgf", quillarn::ExistingTarget::Keep},
    {diskB + "/4.sgf", quillarn::ExistingTarget::Keep},
};

// A batch's writing as ugi2sgf does it: groups of two, committed when full and at the end.
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
            try {
                group.add(id, batchTargets[id].path, newRecord(batchTargets[id].path),
                          batchTargets[id].existing);
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
void checkAfterRestart(const ForgetfulDisk &disk, const std::map<std::string, ForgetfulDisk::Files> &before,
                       const std::set<std::string> &written, bool namesWritten)
{
    for (const auto &[folder, previous] : before) {
        std::set<std::string> finalNames;
        for (const auto &[name, content] : previous)
            finalNames.insert(name);
        for (const Target &target : batchTargets) {
            if (target.path.rfind(folder + "/", 0) == 0)
                finalNames.insert(target.path.substr(folder.size() + 1));
        }
        const ForgetfulDisk::Files after = disk.afterRestart(folder, namesWritten);
        for (const auto &[name, content] : after) {
            const std::string path = folder + "/" + name;
            if (finalNames.count(name) == 0) {
                // An unfinished temporary file, which the next write into the folder removes.
                EXPECT_TRUE(quillarn::isTemporaryFileName(name)) << path;
                continue;
            }
            const auto old = previous.find(name);
            EXPECT_TRUE(content == newRecord(path) || (old != previous.end() && content == old->second))
                << path << " holds \"" << content << "\"";
        }
        for (const auto &[name, content] : previous) {
            EXPECT_EQ(after.count(name), 1u) << folder << "/" << name << " is lost";
        }
        for (const std::string &path : written) {
            if (path.rfind(folder + "/", 0) == 0) {
                const auto found = after.find(path.substr(folder.size() + 1));
                EXPECT_TRUE(found != after.end() && found->second == newRecord(path))
                    << path << " was reported written but does not hold its record";
            }
        }
    }
}

} // namespace

TEST(PowerCut, EveryNameHoldsNothingItsPreviousFileOrTheWholeRecordAndWhatWasReportedLasts)
{
    const std::map<std::string, ForgetfulDisk::Files> before = {
        {diskA, {{"1.sgf", "previous 1"}, {"kept.sgf", "kept"}}},
        {diskB, {{"3.sgf", "previous 3"}}},
    };
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
            for (const auto &[folder, files] : before)
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
            }
        }
    }
}
