// The plan of a batch: which records the paths given stand for, found one at a time as the
// folders are walked, and where each one's SGF record goes, with the names that two records or a
// record and its own source would share told apart before anything is written.
#pragma once

#include "batchitem.h"
#include "filesystem.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillarn {

// Returns true when target names the file source, however either is spelled: the same path once
// made absolute, or the same file (device and inode) after following symbolic links and hard links.
bool isSourceItself(const std::filesystem::path &source, const std::filesystem::path &target);

// The items of a batch. For the paths in the order given: a file stands for itself whatever its
// name; a folder for every record file in it and its subfolders (symbolic links to folders are not
// followed), in the byte order of their paths below it, a subfolder that cannot be read where its
// records would come. Targets go under outputFolder keeping the folders below each path, or beside
// each source when outputFolder is empty. A path that does not exist or a folder that cannot be
// read becomes an item that fails with the system's reason, and a folder that holds no record file
// an item that fails with "no .ugi records". A record whose target is its own source or another
// record's target fails too (the first record in order keeps the target). The same record reached
// twice for the same target is listed once. Each folder is listed once, and the target's folder
// too, which tells whether the target is there (targetState) without a look at each one; only a
// target that is there is compared with its source. Every folder is listed, and every path looked
// at, through system. Raises nothing for a path it cannot read (only std::bad_alloc).
class BatchPlan : public BatchItems {
public:
    BatchPlan(std::vector<std::filesystem::path> paths, std::optional<std::filesystem::path> outputFolder,
              FileSystem &system = systemFileSystem());
    ~BatchPlan() override;
    BatchPlan(const BatchPlan &) = delete;
    BatchPlan &operator=(const BatchPlan &) = delete;

    bool next(BatchItem &item) override;

    // Returns how many items there are, from a walk of their own (for a progress bar's total).
    std::size_t count() const;

private:
    struct Walk;
    std::unique_ptr<Walk> walk_;
};

// Returns every item of a BatchPlan of paths, in order.
std::vector<BatchItem> planBatch(const std::vector<std::filesystem::path> &paths,
                                 const std::optional<std::filesystem::path> &outputFolder);

} // namespace quillarn
