// Writing many record files durably with few flushes: the files of a group are written under
// temporary names, flushed to disk together and only then renamed into place, so that a crash at
// any moment leaves each final name with nothing, its previous file or the complete new one.
#pragma once

#include "recordfile.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quillarn {

// How a group reaches the disk. FileSystem: one flush of each file system for the whole group, and
// one more after the renames (Linux's syncfs; a group writer refuses it elsewhere). EachFile: one
// flush per file (and per folder after the renames), the files kept open until then; on Windows
// each rename is written through to the disk, and the folders need no flush of their own.
enum class FlushMethod { FileSystem, EachFile };

struct GroupLimits {
    std::size_t files = 256;      // a group is full with this many files ...
    std::size_t bytes = 16 << 20; // ... or this many bytes ...
    std::size_t folders = 32;     // ... or when it writes into this many folders (each held open)
    FlushMethod method = FlushMethod::FileSystem;
    // Start write-back of each file as soon as it is written, rather than leaving it all to the
    // flush (Linux's sync_file_range; a group writer refuses it elsewhere).
    bool startWriteBack = false;
    // The file system written to; the system's own when null. Tests put a failing or a forgetful
    // file system here.
    FileSystem *system = nullptr;
};

// Whether a write looks at its target before it writes: a batch that listed the target's folder
// knows which names are absent.
enum class TargetLook { Look, KnownAbsent };

// Returns the limits a batch writes with (chosen by measurement, docs/performance.md).
GroupLimits defaultGroupLimits();

// One group at a time, for one thread. Each folder written to is opened once per group, and the
// files are created, renamed and flushed through it. Every limit and option works on every system,
// but for those of the flush that a system does not have (FlushMethod::FileSystem and
// startWriteBack but on Linux), which are refused.
class GroupWriter {
public:
    // Raises std::invalid_argument, with the reason, when limits ask for a flush that the file
    // system cannot do (FileSystem::flushesFileSystems, startsWriteBack).
    GroupWriter(LeftoverTemporaries &leftovers, const GroupLimits &limits);
    ~GroupWriter(); // removes the temporary files of a group that was not committed
    GroupWriter(const GroupWriter &) = delete;
    GroupWriter &operator=(const GroupWriter &) = delete;

    // Writes what produce writes under a temporary name beside path (beside the file a link at path
    // points to, as writeFileAtomically follows links), for the next commit, after removing the
    // leftovers of earlier killed writes of path. The target is looked at first (unless look says it
    // is known to be absent), so that with Keep one that is there costs no work: produce is not
    // called then. The temporary file is created with produce's first bytes, in path's folder when
    // that exists; otherwise produce (which may make the folder) writes into a buffer first. Returns
    // false when produce writes nothing. Raises CommandFailure with the system's reason, TargetExists
    // when existing is Keep and path is there already, and what produce raises; then the file fails
    // alone and nothing of it stays. With modified, the file keeps that time of writing (writeTemporary).
    bool add(std::size_t id, const std::filesystem::path &path, const RecordProducer &produce,
             ExistingTarget existing = ExistingTarget::Replace, TargetLook look = TargetLook::Look,
             const Modified &modified = std::nullopt);

    // add with bytes made before.
    bool add(std::size_t id, const std::filesystem::path &path, std::string_view bytes,
             ExistingTarget existing = ExistingTarget::Replace);

    // Makes folder and every missing folder above it (makeFolders, filesystem.h) so that they last as
    // the group's files do: with EachFile the name of each folder made is flushed at once, since a
    // commit flushes only the files and the folders they are renamed in. Returns the system's error,
    // with failed (when given) set to the folder that could not be made.
    std::error_code makeFolders(const std::filesystem::path &folder, std::filesystem::path *failed = nullptr);

    // Returns true when the group has reached its limits and should be committed.
    bool full() const;
    bool empty() const;

    // What became of a file at a commit.
    struct Result {
        std::size_t id;
        Reason reason;             // empty when the file is in place
        bool targetExists = false; // added with Keep and its target appeared meanwhile: not written
        std::error_code error{};   // the system's error behind reason, when there is one (not compared)
        bool operator==(const Result &other) const
        {
            return id == other.id && reason == other.reason && targetExists == other.targetExists;
        }
    };

    // Flushes the group, renames each file into place and flushes their folders. Returns, for each
    // file added since the last commit, its id and an empty reason when it is in place, or the
    // reason it failed: when the flush fails, every file of the group fails (EachFile: the file
    // whose flush failed) and its target is left as it was; when a flush after the renames fails,
    // the files are in place but fail with the reason all the same. A file added with Keep whose
    // target appeared since it was added is not put in place (targetExists, reason "File exists").
    // Raises nothing but std::bad_alloc.
    std::vector<Result> commit();

    // Removes the temporary files of the group and forgets it (after a commit that raised).
    void discard();

private:
    struct Group; // the platform's: the group's files and the folders they go to

    LeftoverTemporaries &leftovers_;
    GroupLimits limits_;
    std::unique_ptr<Group> group_;
};

} // namespace quillarn
