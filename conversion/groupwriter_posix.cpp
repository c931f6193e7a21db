// Writing record files in groups on POSIX systems (groupwriter.h): each folder opened once per
// group, the files staged under temporary names, flushed together (one syncfs per file system, or
// one fsync per file) and only then renamed into place.
#include "groupwriter.h"
#include "writerposix.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include <fcntl.h>

namespace quillarn {

using namespace posixwriter;

GroupLimits defaultGroupLimits()
{
    GroupLimits limits;
#ifndef __linux__
    // syncfs and sync_file_range are Linux's own: elsewhere each file is flushed by itself, in
    // groups small enough to keep their files open.
    limits.method = FlushMethod::EachFile;
    limits.files = 64;
#endif
    return limits;
}

struct GroupWriter::Group {
    explicit Group(WriterSystem &calls) : calls(calls) {}

    struct Member {
        std::size_t id;
        Staged staged; // its descriptor: EachFile, open until flushed; FileSystem, -1
        ExistingTarget existing;
    };
    // A file system the group writes to, and a descriptor on it opened before the group wrote
    // anything there: syncfs through it reports every write-back error since.
    struct Device {
        dev_t id;
        int descriptor;
    };

    // Returns the folder of path, opened once per group; raises with the system's reason.
    FolderPtr folderOf(const fs::path &path)
    {
        const fs::path folder = path.parent_path();
        const auto known = folders.find(folder.native());
        if (known != folders.end())
            return known->second;
        FolderPtr opened = openFolderOf(calls, path);
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
        Target target{folder, path.filename().native()};
        if (target.name.empty() || target.name == "." || target.name == "..")
            return std::nullopt;
        if (!look)
            return target;
        if (calls.fstatat(folder->descriptor(), target.name.c_str(), &target.info, AT_SYMLINK_NOFOLLOW) == 0)
            throw TargetExists();
        if (errno != ENOENT)
            return std::nullopt;
        return target;
    }

    // Returns the first flush failure of the group's file systems, or an empty string.
    std::string flushDevices() const
    {
        for (const Device &device : devices) {
            if (calls.syncfs(device.descriptor) != 0)
                return std::strerror(errno);
        }
        return {};
    }

    WriterSystem &calls;
    std::vector<Member> members;
    std::vector<Device> devices;
    // The folders of the group's paths, by the names given, each opened once.
    std::unordered_map<fs::path::string_type, FolderPtr> folders;
    std::size_t otherFolders = 0; // opened after symbolic links
    std::size_t bytes = 0;
};

GroupWriter::GroupWriter(LeftoverTemporaries &leftovers, const GroupLimits &limits)
    : leftovers_(leftovers), limits_(limits),
      group_(std::make_unique<Group>(limits.system ? *limits.system : systemCalls()))
{
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
                      ExistingTarget existing, TargetLook look)
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
        staged = writeTemporary(group.calls, *target, produce, leftovers_, &size);
    } else {
        // The record is made first here: its folder may be made with it.
        StringSink bytes;
        produce(bytes);
        if (bytes.bytes.empty())
            return false;
        const Target resolved =
            resolveTarget(group.calls, group.folderOf(path), path.filename().native(), existing);
        if (resolved.special)
            throw CommandFailure(specialTargetInGroup);
        const auto given = [&bytes](RecordSink &sink) { sink.write(bytes.bytes); };
        staged = writeTemporary(group.calls, resolved, given, leftovers_, &size);
    }
    if (!staged)
        return false;
    try {
        if (limits_.startWriteBack)
            group.calls.startWriteBack(staged->descriptor);
        if (limits_.method == FlushMethod::FileSystem) {
            const dev_t device = staged->target.folder->info().st_dev;
            if (std::none_of(group.devices.begin(), group.devices.end(),
                             [&](const Group::Device &d) { return d.id == device; })) {
                // The first file of the group on this file system was opened before anything else
                // of the group was written there: its descriptor serves for the flush.
                group.devices.push_back({device, staged->descriptor});
                staged->descriptor = -1;
            } else {
                const int closed = group.calls.close(staged->descriptor);
                staged->descriptor = -1;
                if (closed != 0)
                    failWithErrno(errno);
            }
        }
        if (staged->target.folder != group.folderOf(path))
            ++group.otherFolders;
        group.members.push_back({id, *staged, existing});
    } catch (...) {
        if (staged->descriptor >= 0)
            group.calls.close(staged->descriptor);
        group.calls.unlinkat(staged->target.folder->descriptor(), staged->temporary.c_str(), 0);
        throw;
    }
    group.bytes += size;
    return true;
}

bool GroupWriter::add(std::size_t id, const fs::path &path, std::string_view bytes, ExistingTarget existing)
{
    return add(
        id, path, [bytes](RecordSink &sink) { sink.write(bytes); }, existing);
}

std::vector<GroupWriter::Result> GroupWriter::commit()
{
    Group &group = *group_;
    WriterSystem &calls = group.calls;
    std::vector<Result> results;
    results.reserve(group.members.size());
    for (const Group::Member &member : group.members)
        results.push_back({member.id, {}});

    // The data of every file reaches the disk before any of them is renamed into place.
    std::string failure;
    if (limits_.method == FlushMethod::FileSystem) {
        failure = group.flushDevices();
    } else {
        for (std::size_t i = 0; i < group.members.size(); ++i) {
            Staged &staged = group.members[i].staged;
            if (calls.fsync(staged.descriptor) != 0)
                results[i].reason = std::strerror(errno);
            if (calls.close(staged.descriptor) != 0 && results[i].reason.empty())
                results[i].reason = std::strerror(errno);
            staged.descriptor = -1;
        }
    }
    std::vector<const Folder *> renamedIn;
    for (std::size_t i = 0; i < group.members.size(); ++i) {
        const Group::Member &member = group.members[i];
        const Folder &folder = *member.staged.target.folder;
        Result &result = results[i];
        if (!failure.empty()) {
            result.reason = failure;
        } else if (result.reason.empty()) {
            const int error = putInPlace(calls, member.staged, member.existing);
            result.targetExists = error == EEXIST && member.existing == ExistingTarget::Keep;
            if (result.targetExists)
                result.reason = TargetExists().reason();
            else if (error != 0)
                result.reason = std::strerror(error);
        }
        if (!result.reason.empty())
            calls.unlinkat(folder.descriptor(), member.staged.temporary.c_str(), 0);
        else if (std::find(renamedIn.begin(), renamedIn.end(), &folder) == renamedIn.end())
            renamedIn.push_back(&folder);
    }

    // Then the renames themselves.
    std::string unflushed;
    if (renamedIn.empty()) {
        // nothing was put in place
    } else if (limits_.method == FlushMethod::FileSystem) {
        unflushed = group.flushDevices();
    } else {
        for (const Folder *folder : renamedIn) {
            if (!folder->readable())
                unflushed = std::strerror(EACCES);
            else if (calls.fsync(folder->descriptor()) != 0)
                unflushed = std::strerror(errno);
        }
    }
    if (!unflushed.empty()) {
        for (Result &result : results) {
            if (result.reason.empty())
                result.reason = unflushedFolder(unflushed.c_str());
        }
    }
    group.members.clear();
    discard();
    return results;
}

void GroupWriter::discard()
{
    Group &group = *group_;
    for (const Group::Member &member : group.members) {
        if (member.staged.descriptor >= 0)
            group.calls.close(member.staged.descriptor);
        group.calls.unlinkat(member.staged.target.folder->descriptor(), member.staged.temporary.c_str(), 0);
    }
    for (const Group::Device &device : group.devices)
        group.calls.close(device.descriptor);
    group.members.clear();
    group.devices.clear();
    group.folders.clear();
    group.otherFolders = 0;
    group.bytes = 0;
}

} // namespace quillarn
