// The ordered runner of a batch: takes the items as they are found into a ring of a bounded size,
// hands them out to worker threads (or works them on the calling thread), and hands every result
// to the report in the order of the items, whatever order they finish in. It knows nothing of
// records or files: what a worker does with an item and what the report does with a result are its
// caller's (batch.cpp), so that a run that stops half way is the same for every kind of work.
#pragma once

#include "batchitem.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillarn {

// NotWritten: not written for a cause the whole run shares (the medium written to is full), which
// is told once rather than for each item.
// SharedOutput: not converted because a record before it has the same output (a failure too).
enum class ItemOutcome { Pending, Converted, Updated, Failed, SharedOutput, Skipped, NotWritten };

struct ItemResult {
    ItemOutcome outcome = ItemOutcome::Pending; // Pending: the result comes with the worker's finish
    std::string message; // the reason of a failure, the note of a skip, the warnings of a record
};

// How many items a run holds at most: taken from the items but not yet reported. The items are
// taken this far ahead of the report, and no further, whatever the size of the archive.
constexpr std::size_t runRingSize = 4096;

// Returns a copy of item number index, which a worker has taken and holds the result of.
using TakenItem = std::function<BatchItem(std::size_t index)>;

// What one worker does with the items it takes. A worker belongs to one thread and may hold the
// results of its items back (a group of records is put in place together).
class ItemWorker {
public:
    virtual ~ItemWorker() = default;
    // Returns the result of item number index, or Pending to give it with the next finish().
    virtual ItemResult process(std::size_t index, const BatchItem &item) = 0;
    // Returns true when the worker holds as much as it should: finish() is called next.
    virtual bool full() const = 0;
    // Returns the results of the items held, with their numbers, and holds none; taken gives an
    // item it holds again, so that it need not keep a copy. Called when the worker is full, before
    // it waits for more items (the report may be waiting for the ones it holds) and when it stops,
    // however the run ends.
    virtual std::vector<std::pair<std::size_t, ItemResult>> finish(const TakenItem &taken) = 0;
};

// Makes the worker of one thread, on that thread.
using ItemWorkerFactory = std::function<std::unique_ptr<ItemWorker>()>;

// Where the results of a run go, in the order of the items, on the calling thread.
class RunReport {
public:
    virtual ~RunReport() = default;
    // Takes the result of the next item. What it raises stops the run as an interruption does, and
    // is raised again by runInOrder once every thread of the run has ended.
    virtual void take(const BatchItem &item, const ItemResult &result) = 0;
    // Says how far the run is while the report waits: done items processed, current the item
    // waited for (null when it has not been taken yet). Only with RunOptions::progress.
    virtual void progress(std::size_t done, const BatchItem *current) = 0;
    // Returns true once no further item should be started (nobody reads the results any more).
    virtual bool closed() const { return false; }
    // Says that an interruption left items that were never looked for (a walk of folders cut short),
    // which the count of those not started leaves out.
    virtual void restNotLookedAt() {}
};

struct RunOptions {
    std::size_t workers = 0; // worker threads, and one more that takes the items; 0: none
    bool progress = false;   // call RunReport::progress while waiting, at most every 100 ms
    // When it points to a value that becomes non-zero (from a signal handler), no further item is
    // started; those being processed are finished.
    const std::atomic<int> *interrupted = nullptr;
};

// Runs every item of items through the workers that newWorker makes and gives each result to
// report, in order. Without threads (options.workers 0, or when the system gives fewer than a
// worker and the thread that takes the items), the calling thread takes a ring's worth of items,
// processes them, reports them, and goes on. After an interruption, once report is closed or when
// it raises, no further item is started, and every worker finishes what it holds: its results are
// reported (unless report raised). Returns how many items were not started then: those taken and
// left, and those still in items when they know how many (BatchItems::left); otherwise the walk
// stops there and report hears restNotLookedAt. Raises what report raises.
std::size_t runInOrder(BatchItems &items, const RunOptions &options, const ItemWorkerFactory &newWorker,
                       RunReport &report);

} // namespace quillarn
