// Batch conversion for ugi2sgf: finds the records under the paths given as it goes, decides where
// each one's SGF record goes, converts them on a small pool of threads and reports every outcome in
// the order the records were found, so that a run over an archive says exactly what it did to each
// file. Memory stays the same however many records there are: the walk, the records being
// converted and the outcomes not yet reported are each held in bounded numbers.
#pragma once

#include "convert.h"
#include "groupwriter.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quillarn {

// What the listing of a target's folder showed of the target.
enum class TargetState { Unknown, Absent, Present };

// One record of a batch, or one path that failed before any record could be found in it.
struct BatchItem {
    std::filesystem::path source;
    std::filesystem::path target; // empty when failure is set
    std::string failure;          // set when the item fails without being converted
    TargetState targetState = TargetState::Unknown;
};

struct BatchOptions {
    ConversionOptions conversion; // how sources are read and records written
    bool strict = false;          // a record with warnings fails: it is reported and not written
    bool force = false;           // replace existing outputs instead of skipping them
    bool quiet = false;           // report failures only: no warnings, skip notes or progress
    bool progress = false;        // draw a progress bar (only sensible on a terminal)
    int terminalWidth = 80;
    int workers = 0; // 0: up to maxBatchWorkers (none for a few items); 1: no threads
    // How many records each worker writes before it flushes them to disk together, and how.
    GroupLimits groupLimits = defaultGroupLimits();
    // When it points to a value that becomes non-zero (from a signal handler), no further record
    // is started; those being converted are finished.
    const std::atomic<int> *interrupted = nullptr;
};

// Workers of a batch: enough to keep the disk busy while records are converted.
constexpr int maxBatchWorkers = 8;

struct BatchSummary {
    std::size_t converted = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    std::size_t withWarnings = 0; // of the converted ones
    std::size_t notStarted = 0;   // left alone after an interruption
};

// Returns the reason of a record whose output (UTF-8) would be its own source: never written,
// --force or not.
std::string outputIsSourceReason(const std::string &output);

// Returns true when target names the file source, however either is spelled: the same path once
// made absolute, or the same file (device and inode) after following symbolic links and hard links.
bool isSourceItself(const std::filesystem::path &source, const std::filesystem::path &target);

// The items of a batch, found one at a time as the folders are walked. For the paths in the order
// given: a file stands for itself whatever its name; a folder for every record file in it and its
// subfolders (symbolic links to folders are not followed), in the byte order of their paths below
// it, a subfolder that cannot be read where its records would come. Targets go under outputFolder
// keeping the folders below each path, or beside each source when outputFolder is empty. A path
// that does not exist or a folder that cannot be read becomes an item that fails with the system's
// reason, and a folder that holds no record file an item that fails with "no .ugi records". A record
// whose target is its own source or another record's target fails too (the first record in order
// keeps the target). The same record reached twice for the same target is listed once. Each folder
// is listed once, and the target's folder too, which tells whether the target is there
// (targetState) without a look at each one; only a target that is there is compared with its
// source. Raises nothing for a path it cannot read (only std::bad_alloc).
// Items of a batch, handed out in order.
class BatchItems {
public:
    virtual ~BatchItems() = default;
    // Sets item to the next item and returns true; false when there are no more.
    virtual bool next(BatchItem &item) = 0;
};

class BatchPlan : public BatchItems {
public:
    BatchPlan(std::vector<std::filesystem::path> paths, std::optional<std::filesystem::path> outputFolder);
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

// What a batch tells as it runs. The command line shows it on a terminal (terminal.h).
class BatchStatus {
public:
    virtual ~BatchStatus() = default;
    // Says how far the batch is: done of total items (0 when the total is not known), current the
    // source of the item it waits for now.
    virtual void progress(std::size_t done, std::size_t total, const std::filesystem::path &current) = 0;
    // A message about an item: "source: reason" lines, each with its line end.
    virtual void message(const std::string &lines) = 0;
    // Returns true once messages can no longer be shown (the reader went away): the batch then
    // starts no further record, as after an interruption.
    virtual bool closed() const { return false; }
};

// Converts every item and returns the counts; total is the number of items when it is known
// (BatchPlan::count), 0 otherwise. An existing target is skipped unless options.force; a failed
// record leaves no file. Each worker reads its records through a buffer of its own and writes them
// straight into temporary files, in groups (GroupWriter), one group at a time; after an
// interruption, once status is closed, or when status raises, the groups begun are still
// committed, and the rest of the plan is counted as not started (or what status raised is raised
// again, once every thread has ended). Tells status, in item order, "source: reason" for each
// failure, "source: warning" for each warning of a record and (unless quiet) a note for each skip,
// and how far it is when options.progress. The summary line is the caller's to write. Never raises
// for a record's failure.
BatchSummary runBatch(BatchItems &items, std::size_t total, const BatchOptions &options, BatchStatus &status);

// runBatch of items, made before, with the messages and (when asked for) a progress line on
// messages.
BatchSummary runBatch(const std::vector<BatchItem> &items, const BatchOptions &options,
                      std::ostream &messages);

// Returns "N converted, M failed, K skipped", "N converted (W with warnings), ..." when records had
// warnings, and ", L not converted (interrupted)" after an interruption.
std::string summaryLine(const BatchSummary &summary);

} // namespace quillarn
