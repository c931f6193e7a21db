// The plan of a batch: which records the paths given stand for, in which order, and where each
// one's SGF record goes, with the names that two records or a record and its own source would share
// told apart before anything is written. ugi2sgf walks folders for it (BatchPlan); the web page,
// given its files by the browser, takes the same order and the same claims on targets.
#pragma once

#include "batchitem.h"
#include "filesystem.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillarn {

// Returns true when target names the file source, however either is spelled: the same path once
// made absolute, or the same file (device and inode) after following symbolic links and hard links.
bool isSourceItself(const std::filesystem::path &source, const std::filesystem::path &target,
                    Folders &folders = systemFileSystem());

// The reason of a record whose output (as messages show it) would be its own source, which is
// never written over, --force or not.
Reason outputIsSourceReason(const std::string &output);

// The reason of a record whose target (as messages show it) an earlier record, first (its source
// as messages show it), has: "its output TARGET is also the output of FIRST; not converted".
Reason alsoTheOutputOf(std::string_view target, std::string_view first);

// Returns true when the path a (UTF-8, "/" between folders, below a folder given) comes before b in
// a batch: byte order, a folder's name taken with "/" after it. A walk that lists each folder and
// takes its entries by name + "/" for a folder and name for a file goes the same way.
bool inWalkOrder(std::string_view a, std::string_view b);

// The targets of a batch's records, each kept by the first record that claims it. Names are
// compared as the file system the records go to compares them: folded to one letter case with
// foldCase (Windows; a zip that may be unpacked there), byte for byte otherwise.
class TargetClaims {
public:
    explicit TargetClaims(bool foldCase) : foldCase_(foldCase) {}

    enum class Claim { Kept, SameRecord, Taken };
    // Claims target (a path, or a key from keyOf) for source (its key), shown as shownSource in
    // messages. Returns Kept for the first claim of target, SameRecord when source has it already,
    // and Taken when another source has, with first set to that one as messages show it.
    Claim claim(const std::string &target, const std::string &source, std::string_view shownSource,
                std::string &first);

    // Returns name as claims of this kind compare it.
    std::string keyOf(std::string name) const;

    bool empty() const { return owners_.empty(); }

private:
    bool foldCase_;
    std::unordered_map<std::string, std::pair<std::string, std::string>> owners_;
};

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
// at, through folders. What the plan holds does not grow with the records: a record of a later path
// is compared with the earlier paths' records by a look at the folder that would hold them. Raises
// nothing for a path it cannot read (only std::bad_alloc).
class BatchPlan : public BatchItems {
public:
    BatchPlan(std::vector<std::filesystem::path> paths, std::optional<std::filesystem::path> outputFolder,
              Folders &folders = systemFileSystem());
    ~BatchPlan() override;
    BatchPlan(const BatchPlan &) = delete;
    BatchPlan &operator=(const BatchPlan &) = delete;

    bool next(BatchItem &item) override;

    // Returns how many items there are, from a walk of their own (for a progress bar's total).
    // looking is told how many folders have been listed after each one, and stops the walk by
    // returning false: then nothing is returned.
    std::optional<std::size_t> count(const std::function<bool(std::size_t folders)> &looking = {}) const;

private:
    struct Walk;
    std::unique_ptr<Walk> walk_;
};

// Returns every item of a BatchPlan of paths, in order.
std::vector<BatchItem> planBatch(const std::vector<std::filesystem::path> &paths,
                                 const std::optional<std::filesystem::path> &outputFolder);

} // namespace quillarn
