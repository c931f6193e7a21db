// Batch conversion for ugi2sgf: finds the records under the paths given, decides where each one's
// SGF record goes, converts them on a small pool of threads and reports every outcome in the order
// the records were found, so that a run over an archive says exactly what it did to each file.
#pragma once

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

// One record of a batch, or one path that failed before any record could be found in it.
struct BatchItem {
    std::filesystem::path source;
    std::filesystem::path target; // empty when failure is set
    std::string failure;          // set when the item fails without being converted
};

struct BatchOptions {
    ConversionOptions conversion; // how sources are read and records written
    bool strict = false;          // a record with warnings fails: it is reported and not written
    bool force = false;           // replace existing outputs instead of skipping them
    bool quiet = false;           // report failures only: no warnings, skip notes or progress
    bool progress = false;        // draw a progress bar (only sensible on a terminal)
    int terminalWidth = 80;
    int workers = 0; // 0: maxBatchWorkers when there are many items; 1: no threads
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

// Returns true when name (UTF-8, as all names and paths in messages here are) ends in ".ugi" in any
// letter case and has something before it.
bool isRecordFileName(const std::string &name);

// Returns the SGF file name (UTF-8) for a source file name (UTF-8): NAME.sgf, NAME being the name without its
// extension (without ".ugi" in any letter case).
std::string targetFileName(const std::string &sourceName);

// Returns the items for paths, in the order given. A file stands for itself whatever its name; a
// folder for every record file in it and its subfolders (symbolic links to folders are not
// followed), in the byte order of their paths below it. Targets go under outputFolder keeping the
// folders below each path, or beside each source when outputFolder is empty. A path that does not
// exist or a folder that cannot be read becomes an item that fails with the system's reason, and a
// folder that holds no record file an item that fails with "no .ugi records". A record whose target
// is its own source or another record's target fails too (the first record in order keeps the
// target). The same record reached twice for the same target is listed once.
// Raises nothing for a path it cannot read (only std::bad_alloc).
std::vector<BatchItem> planBatch(const std::vector<std::filesystem::path> &paths,
                                 const std::optional<std::filesystem::path> &outputFolder);

// Returns the record file for the source file at path, with its warnings (convertSource). Raises
// CommandFailure when the file cannot be read, translated or encoded.
Conversion convertFile(const std::filesystem::path &path, const ConversionOptions &options);

// Converts every item and returns the counts. An existing target is skipped unless options.force;
// a failed record leaves no file. Records are written in groups (GroupWriter), one group at a time
// by each worker; after an interruption the groups begun are still committed. Writes to messages, in item
// order, "source: reason" for each failure, "source: warning" for each warning of a record and (unless
// quiet) a note for each skip, and the progress bar when asked for. The summary line is the caller's to
// write. Never raises for a record's failure.
BatchSummary runBatch(const std::vector<BatchItem> &items, const BatchOptions &options,
                      std::ostream &messages);

// Returns "N converted, M failed, K skipped", "N converted (W with warnings), ..." when records had
// warnings, and ", L not converted (interrupted)" after an interruption.
std::string summaryLine(const BatchSummary &summary);

} // namespace quillarn
