// Writing many record files durably with few flushes: the files of a group are written under
// temporary names, flushed to disk together and only then renamed into place, so that a crash at
// any moment leaves each final name with nothing, its previous file or the complete new one.
#pragma once

#include "recordfile.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillarn {

// How a group reaches the disk. FileSystem: one syncfs per file system for the whole group, and
// one more after the renames. EachFile: one fsync per file (and per folder after the renames), the
// files kept open until then.
enum class FlushMethod { FileSystem, EachFile };

struct GroupLimits {
    std::size_t files = 256;      // a group is full with this many files ...
    std::size_t bytes = 16 << 20; // ... or this many bytes
    FlushMethod method = FlushMethod::FileSystem;
    // Start write-back of each file as soon as it is written (sync_file_range), rather than
    // leaving it all to the flush.
    bool startWriteBack = false;
    // The flush of a file system; syncfs when null. Tests put a failing one here.
    int (*syncFileSystem)(int descriptor) = nullptr;
};

// Returns the limits a batch writes with (chosen by measurement, docs/performance.md).
GroupLimits defaultGroupLimits();

// One group at a time, for one thread. On Windows each file is written at once through
// writeFileAtomically, and commit only reports them.
class GroupWriter {
public:
    GroupWriter(LeftoverTemporaries &leftovers, const GroupLimits &limits);
    ~GroupWriter(); // removes the temporary files of a group that was not committed
    GroupWriter(const GroupWriter &) = delete;
    GroupWriter &operator=(const GroupWriter &) = delete;

    // Writes bytes under a temporary name beside path (beside the file a link at path points to),
    // for the next commit, after removing the leftovers of earlier killed writes of path. Raises
    // CommandFailure with the system's reason; then the file fails alone and nothing of it stays.
    void add(std::size_t id, const std::filesystem::path &path, std::string_view bytes);

    // Returns true when the group has reached its limits and should be committed.
    bool full() const;
    bool empty() const { return members_.empty(); }

    // Flushes the group, renames each file into place and flushes their folders. Returns, for each
    // file added since the last commit, its id and an empty string when it is in place, or the
    // reason it failed: when the flush fails, every file of the group fails (EachFile: the file
    // whose flush failed) and its target is left as it was; when a flush after the renames fails,
    // the files are in place but fail with the reason all the same. Raises nothing but
    // std::bad_alloc.
    std::vector<std::pair<std::size_t, std::string>> commit();

    // Removes the temporary files of the group and forgets it (after a commit that raised).
    void discard();

private:
    struct Member {
        std::size_t id;
        std::filesystem::path target;
        std::filesystem::path temporary;
        int descriptor; // EachFile: open until flushed; FileSystem: -1
    };
    // A file system the group writes to, and a descriptor on it opened before the group wrote
    // anything there: syncfs through it reports every write-back error since.
    struct Device {
        unsigned long long id;
        int descriptor;
    };

    std::string flushDevices();

    LeftoverTemporaries &leftovers_;
    GroupLimits limits_;
    std::vector<Member> members_;
    std::vector<Device> devices_;
    std::unordered_map<std::filesystem::path::string_type, unsigned long long> deviceOfFolder_;
    std::size_t bytes_ = 0;
};

} // namespace quillarn
