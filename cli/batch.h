// Batch conversion for ugi2sgf: converts the records of a plan (batchplan.h) on the ordered runner
// (batchrunner.h), writing them in groups, and tells a BatchStatus about every outcome in the order
// the records were found, so that a run over an archive says exactly what it did to each file.
// Memory stays the same however many records there are: the walk, the records being converted and
// the outcomes not yet reported are each held in bounded numbers.
#pragma once

#include "batchitem.h"
#include "batchstatus.h"
#include "convert.h"
#include "groupwriter.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quillarn {

struct BatchOptions {
    ConversionOptions conversion; // how sources are read and records written, and whether strictly
    bool force = false;           // replace existing outputs instead of skipping them
    bool update = false;          // replace an existing output older than its source (counted apart)
    bool keepTimes = false;       // give each output its source's time of last writing
    bool quiet = false;           // report failures only: no warnings, skip notes or progress
    bool verbose = false;         // name each record skipped, not only count them (unless quiet)
    bool progress = false;        // draw a progress bar (only sensible on a terminal)
    int terminalWidth = 80;
    int workers = 0; // 0: up to maxBatchWorkers (none for a few items); 1: no threads
    // How many records each worker writes before it flushes them to disk together, and how.
    GroupLimits groupLimits = defaultGroupLimits();
    // The folder given for the outputs (-d), which, when it cannot be made, stops the batch.
    std::optional<std::filesystem::path> outputFolder;
    // The file system the sources are read from and the records written to, their folders made in;
    // the system's own when null (it stands for groupLimits.system too). A test's file system here
    // goes with a BatchPlan that walks it.
    FileSystem *system = nullptr;
    // When it points to a value that becomes non-zero (from a signal handler), no further record
    // is started; those being converted are finished.
    const std::atomic<int> *interrupted = nullptr;
};

// Workers of a batch: enough to keep the disk busy while records are converted.
constexpr int maxBatchWorkers = 8;

struct BatchSummary {
    std::size_t converted = 0;
    std::size_t updated = 0; // converted again over an output older than their sources
    std::size_t failed = 0;
    std::size_t sharedOutput = 0; // of the failed: their output is a record's before them
    std::size_t skipped = 0;
    std::size_t withWarnings = 0; // of the converted ones
    std::size_t notStarted = 0;   // left alone after an interruption
    bool restNotLookedAt = false; // and the walk of the folders stopped there too
    // Failed because the medium was full or the output folder could not be made, or left unwritten
    // once that happened (but those skipped); the cause as the summary says it.
    std::size_t notWritten = 0;
    std::string notWrittenCause = "disk full";
};

// Converts every item and returns the counts; total is the number of items when it is known
// (BatchPlan::count), 0 otherwise. An existing target is skipped unless options.force; a failed
// record leaves no file. Each worker reads its records through a buffer of its own and writes them
// straight into temporary files, in groups (GroupWriter), one group at a time; after an
// interruption, once status is closed, or when status raises, the groups begun are still
// committed, and the rest of the plan is counted as not started (or what status raised is raised
// again, once every thread has ended). Once a record fails because the medium is full (ENOSPC,
// EDQUOT, or Windows' disk full), or because options.outputFolder could not be made, no record is
// written any more: those that fail the same way and the rest (but those skipped) are counted as
// not written. Tells status, in item order,
// "source: reason" for each other failure, "source: warning" for each warning of a record, with
// options.verbose a note for each skip, and how far it is when options.progress; at the end one
// line that counts the skips (unless quiet), and "source: reason; stopped with N records not
// written" for the first record that the full medium or the missing folder failed (quiet or not). The summary
// line is the caller's to write. Never raises for a record's failure.
BatchSummary runBatch(BatchItems &items, std::size_t total, const BatchOptions &options, BatchStatus &status);

// runBatch of items made before, with the messages and (when asked for) a progress line on
// messages, as on a terminal (TerminalStatus): for tests and benchmarks.
BatchSummary runBatch(const std::vector<BatchItem> &items, const BatchOptions &options,
                      std::ostream &messages);

// Returns "N converted, M failed, K skipped", "N converted (W with warnings), ..." when records had
// warnings, ", F not written (disk full)" once the medium was full (or "(no output folder)"), and ", L not
// converted (interrupted)" after an interruption.
std::string summaryLine(const BatchSummary &summary);

} // namespace quillarn
