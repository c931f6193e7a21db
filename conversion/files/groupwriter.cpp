// Writing record files in groups (groupwriter.h): each folder opened once per group, the files
// staged under temporary names, flushed together (one flush of each file system, or one of each
// file) and only then renamed into place, and the renames flushed after.
#include "groupwriter.h"
#include "writerparts.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

namespace quillarn {

using namespace writer;
namespace fs = std::filesystem;

GroupLimits defaultGroupLimits()
{
    GroupLimits limits;
#ifndef __linux__
    // A flush of a whole file system is Linux's own (syncfs): elsewhere each file is flushed by
    // itself, in groups small enough to keep their files open.
    limits.method = FlushMethod::EachFile;
    limits.files = 64;
#endif
    return limits;
}

struct GroupWriter::Group {
    explicit Group(FileSystem &system) : system(system), hold(system) {}

    struct Member {
        std::size_t id;
        Staged staged; // its file: EachFile, open until flushed; FileSystem, closed
        ExistingTarget existing;
    };
    // A file system the group writes to, and a file on it opened before the group wrote anything
    // there: a flush of the file system through it reports every write-back error since.
    struct Device {
        std::uint64_t id;
        File file;
    };

    // Returns the folder of path, opened once per group; raises with the system's reason.
    FolderPtr folderOf(const fs::path &path)
    {
        const fs::path folder = path.parent_path();
        const auto known = folders.find(folder.native());
        if (known != folders.end())
            return known->second;
        FolderPtr opened = openFolderOf(system, path);
        folders.emplace(folder.native(), opened);
        return opened;
    }

    // Returns path's target when it is absent (looked at when look, known otherwise), raises
    // TargetExists when it is there, and returns nothing when that cannot be told (its folder may
    // not be made yet).
    std::optional<Target> absentTarget(const fs::path &path, bool look)
    {
        FolderPtr folder;
        try {
            folder = folderOf(path);
        } catch (const CommandFailure &) {
            return std::nullopt;
        }
        const fs::path name = path.filename();
        if (name.empty() || name == "." || name == "..")
            return std::nullopt;
        Target target{folder, name.native()};
        if (!look)
            return target;
        const std::error_code looked = system.look(folder.get(), target.name.c_str(), false, target.info);
        if (!looked)
            throw TargetExists();
        if (looked != std::errc::no_such_file_or_directory)
            return std::nullopt;
        return target;
    }

    // Returns the first flush failure of the group's file systems, or an empty string.
    std::error_code flushDevices()
    {
        for (Device &device : devices) {
            if (const std::error_code error = device.file.flushFileSystem())
                return error;
        }
        return {};
    }

    FileSystem &system;
    std::vector<Member> members;
    std::vector<Device> devices;
    // The folders of the group's paths, by the names given, each opened once.
    std::unordered_map<fs::path::string_type, FolderPtr> folders;
    std::size_t otherFolders = 0; // opened after symbolic links
    std::size_t bytes = 0;
    TemporaryHold hold; // the group's temporary files in use, until each is renamed or removed
};

GroupWriter::GroupWriter(LeftoverTemporaries &leftovers, const GroupLimits &limits)
    : leftovers_(leftovers), limits_(limits),
      group_(std::make_unique<Group>(limits.system ? *limits.system : systemFileSystem()))
{
    // Either, asked of a system that cannot do it, would pass for done without being done.
    if (limits.method == FlushMethod::FileSystem && !group_->system.flushesFileSystems())
        throw std::invalid_argument("FlushMethod::FileSystem: this system cannot flush a whole file system "
                                    "(FlushMethod::EachFile can)");
    if (limits.startWriteBack && !group_->system.startsWriteBack())
        throw std::invalid_argument(
            "GroupLimits::startWriteBack: this system cannot start the write-back of a "
            "file without waiting for it");
}

GroupWriter::~GroupWriter()
{
    discard();
}

bool GroupWriter::full() const
{
    return group_->members.size() >= limits_.files || group_->bytes >= limits_.bytes ||
           group_->folders.size() + group_->otherFolders >= limits_.folders;
}

bool GroupWriter::empty() const
{
    return group_->members.empty();
}

bool GroupWriter::add(std::size_t id, const fs::path &path, const RecordProducer &produce,
                      ExistingTarget existing, TargetLook look, const Modified &modified)
{
    Group &group = *group_;
    // A target known to be absent is not looked at: a rename with Keep refuses one that appeared
    // since, and with Replace replaces it (never through a link). Otherwise, with Keep, the target is
    // looked at before the record is made, so that one that is there costs nothing more; when that
    // look cannot tell (its folder may not be made yet), the one after does.
    std::optional<Target> target;
    if (look == TargetLook::KnownAbsent)
        target = group.absentTarget(path, false);
    else if (existing == ExistingTarget::Keep)
        target = group.absentTarget(path, true);
    std::size_t size = 0;
    std::optional<Staged> staged;
    if (target) {
        staged = writeTemporary(group.system, *target, produce, leftovers_, group.hold, &size, modified);
    } else {
        // The record is made first here: its folder may be made with it.
        StringSink bytes;
        produce(bytes);
        if (bytes.bytes.empty())
            return false;
        const Target resolved =
            resolveTarget(group.system, group.folderOf(path), path.filename().native(), existing);
        if (resolved.special)
            throw CommandFailure(specialTargetInGroup);
        const auto given = [&bytes](RecordSink &sink) { sink.write(bytes.bytes); };
        staged = writeTemporary(group.system, resolved, given, leftovers_, group.hold, &size, modified);
    }
    if (!staged)
        return false;
    try {
        if (limits_.startWriteBack)
            staged->file.startWriteBack();
        if (limits_.method == FlushMethod::FileSystem) {
            const std::uint64_t device = staged->target.folder->info().device;
            if (std::none_of(group.devices.begin(), group.devices.end(),
                             [&](const Group::Device &d) { return d.id == device; })) {
                // The first file of the group on this file system was opened before anything else
                // of the group was written there: it serves for the flush.
                group.devices.push_back({device, std::move(staged->file)});
            } else if (const std::error_code closed = staged->file.close()) {
                failWith(closed);
            }
        }
        if (staged->target.folder != group.folderOf(path))
            ++group.otherFolders;
        group.members.push_back({id, std::move(*staged), existing});
    } catch (...) {
        staged->file.close();
        group.system.remove(*staged->target.folder, staged->temporary.c_str());
        throw;
    }
    group.bytes += size;
    return true;
}

std::error_code GroupWriter::makeFolders(const fs::path &folder, fs::path *failed)
{
    return quillarn::makeFolders(group_->system, folder, limits_.method == FlushMethod::EachFile, failed);
}

bool GroupWriter::add(std::size_t id, const fs::path &path, std::string_view bytes, ExistingTarget existing)
{
    return add(
        id, path, [bytes](RecordSink &sink) { sink.write(bytes); }, existing);
}

std::vector<GroupWriter::Result> GroupWriter::commit()
{
    Group &group = *group_;
    FileSystem &system = group.system;
    std::vector<Result> results;
    results.reserve(group.members.size());
    for (const Group::Member &member : group.members)
        results.push_back({member.id, {}});

    // The data of every file reaches the disk before any of them is renamed into place: the system
    // may write a rename before the data of the file renamed, and a power cut between the two would
    // leave a target's name on a file that lost its data.
    const auto failWith = [](Result &result, std::error_code error) {
        result.reason = Reason(error);
        result.error = error;
    };
    std::error_code failure;
    if (limits_.method == FlushMethod::FileSystem) {
        failure = group.flushDevices();
    } else {
        for (std::size_t i = 0; i < group.members.size(); ++i) {
            Staged &staged = group.members[i].staged;
            if (const std::error_code error = staged.file.flush())
                failWith(results[i], error);
            // A failed close can mean the data never reached the disk.
            if (const std::error_code error = staged.file.close(); error && results[i].reason.empty())
                failWith(results[i], error);
        }
    }
    std::vector<const Folder *> renamedIn;
    for (std::size_t i = 0; i < group.members.size(); ++i) {
        const Group::Member &member = group.members[i];
        const Folder &folder = *member.staged.target.folder;
        Result &result = results[i];
        if (failure) {
            failWith(result, failure);
        } else if (result.reason.empty()) {
            const std::error_code error = putInPlace(system, member.staged, member.existing);
            result.targetExists = error == std::errc::file_exists && member.existing == ExistingTarget::Keep;
            if (result.targetExists)
                result.reason = TargetExists().said();
            else if (error)
                failWith(result, error);
        }
        if (!result.reason.empty())
            system.remove(folder, member.staged.temporary.c_str());
        else if (std::find(renamedIn.begin(), renamedIn.end(), &folder) == renamedIn.end())
            renamedIn.push_back(&folder);
    }

    // Then the renames themselves, which reach the disk with their folders: only then are the
    // files reported in place, since until then a power cut can undo a rename.
    std::error_code unflushed;
    if (renamedIn.empty()) {
        // nothing was put in place
    } else if (limits_.method == FlushMethod::FileSystem) {
        unflushed = group.flushDevices();
    } else {
        for (const Folder *folder : renamedIn) {
            if (!folder->flushable())
                unflushed = std::make_error_code(std::errc::permission_denied);
            else if (const std::error_code error = system.flushFolder(*folder))
                unflushed = error;
        }
    }
    if (unflushed) {
        for (Result &result : results) {
            if (result.reason.empty()) {
                result.reason = unflushedFolder(unflushed);
                result.error = unflushed;
            }
        }
    }
    group.members.clear();
    discard();
    return results;
}

void GroupWriter::discard()
{
    Group &group = *group_;
    for (Group::Member &member : group.members) {
        member.staged.file.close();
        group.system.remove(*member.staged.target.folder, member.staged.temporary.c_str());
    }
    group.members.clear();
    group.devices.clear();
    group.folders.clear();
    group.otherFolders = 0;
    group.bytes = 0;
    group.hold.release();
}

} // namespace quillarn
