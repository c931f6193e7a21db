// The ring, the threads and the stopping of batchrunner.h.
#include "batchrunner.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace quillarn {

namespace {

// How many items a worker takes at a time, at most: fewer when there are not so many for each.
// Items of one folder come together, and a folder takes one new file at a time, so workers that
// took turns item by item would wait for each other.
constexpr std::size_t claimedTogether = 128;

// The state the threads of a run share. One thread takes the items into a ring of slots; workers
// claim them in runs, in order, and file each result in its item's slot; the calling thread waits
// for the slots in order and reports them. Without threads the calling thread does each in turn,
// a ring at a time.
//
// Two invariants hold the run together:
// - The ring: planned_ <= reported_ + runRingSize, and the items in use (claimed and not yet
//   filed, or waited for by the report) are all from reported_ to planned_. plan() writes the slot
//   of item planned_, which is the slot of item planned_ - runRingSize, only once that item has
//   been reported; so no slot that a worker or the report still reads is written over, and they
//   read the items in place.
// - The stop count: a worker adds itself to stoppedWorkers_ as the last thing it does, after its
//   finish() has filed every result it held, and claims nothing after that; and workers_ counts
//   the workers started, each of which stops once. So once stoppedWorkers_ == workers_ no slot
//   will ever be filed again, and a slot still pending then is an item that no worker started:
//   the report counts it as not started instead of waiting for ever. The calling thread alone
//   counts as every worker at the end of each ring, by when it has processed every item it took
//   or stopped processing.
class Run {
public:
    Run(BatchItems &items, const RunOptions &options) : items_(items), options_(options), slots_(runRingSize)
    {
    }

    bool interrupted() const
    {
        return stopped_.load() || (options_.interrupted && options_.interrupted->load() != 0);
    }

    // Stops the run as an interruption does. The threads are woken under the lock, so that one that
    // has just found the run going on and is about to wait does not miss it.
    void stop()
    {
        stopped_ = true;
        const std::lock_guard<std::mutex> lock(mutex_);
        roomFreed_.notify_all();
        itemPlanned_.notify_all();
    }

    // The thread that takes the items: into free slots until there are no more, or until an
    // interruption, after which it only counts the items left.
    void planAll()
    {
        for (BatchItem item; items_.next(item);) {
            std::unique_lock<std::mutex> lock(mutex_);
            // Woken once the report has freed half of the ring; an interruption is seen in time.
            while (planned_ == reported_ + runRingSize && !interrupted())
                roomFreed_.wait_for(lock, std::chrono::milliseconds(100));
            if (interrupted()) {
                lock.unlock();
                countTheRest(1);
                break;
            }
            plan(std::move(item));
            if (idleWorkers_ != 0)
                itemPlanned_.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        planEnded_ = true;
        itemPlanned_.notify_all();
        finishedOne_.notify_one();
    }

    // Without threads: takes the items that fit into the ring and processes them, telling report
    // how far the run is first. Returns false once there are no more.
    bool planAndWork(const ItemWorkerFactory &newWorker, RunReport *report)
    {
        BatchItem item;
        while (planned_ < reported_ + runRingSize && !interrupted() && items_.next(item))
            plan(std::move(item));
        if (interrupted())
            countTheRest(0);
        planEnded_ = planned_ < reported_ + runRingSize || interrupted();
        if (report && reported_ < planned_)
            report->progress(done_.load(std::memory_order_relaxed), &slots_[reported_ % runRingSize].first);
        if (!aloneWorker_)
            aloneWorker_ = newWorker();
        work(*aloneWorker_, true);
        return !planEnded_;
    }

    // A worker thread: its worker is made on it, since it is used from it alone.
    void work(const ItemWorkerFactory &newWorker)
    {
        const std::unique_ptr<ItemWorker> worker = newWorker();
        work(*worker, false);
    }

    // The workers the stop count waits for: those started, since the system may give fewer threads
    // than asked for. Set before the report first waits.
    void setWorkerCount(std::size_t count)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        workers_ = count;
    }

    enum class Waited { Filed, NotStarted, Ended };

    // Waits until item index has its result and moves both into found (Filed), or until every
    // worker has stopped without it (NotStarted), telling report how far the run is meanwhile;
    // Ended when the items ended before index. Frees the item's slot.
    Waited waitFor(std::size_t index, RunReport *report, std::pair<BatchItem, ItemResult> &found)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        awaited_ = index;
        wakeOnEach_ = report != nullptr;
        Waited waited = Waited::Filed;
        for (bool drawn = false;; drawn = true) {
            if (report && (drawn || index < planned_)) {
                const BatchItem *current = index < planned_ ? &slots_[index % runRingSize].first : nullptr;
                lock.unlock();
                report->progress(done_.load(std::memory_order_relaxed), current);
                lock.lock();
            }
            if (index < planned_ && slots_[index % runRingSize].second.outcome != ItemOutcome::Pending)
                break;
            if (index >= planned_ && planEnded_)
                return Waited::Ended;
            if (stoppedWorkers_ == workers_ && index < planned_) {
                waited = Waited::NotStarted;
                break;
            }
            if (!report) {
                finishedOne_.wait(lock);
                continue;
            }
            // Results may be held back by a worker for long: the progress also moves meanwhile.
            finishedOne_.wait_for(lock, std::chrono::milliseconds(100));
        }
        found = std::move(slots_[index % runRingSize]);
        reported_ = index + 1;
        // The thread that takes the items waits for room; waking it for each slot would only cost
        // time.
        if (planned_ - reported_ == runRingSize / 2)
            roomFreed_.notify_one();
        return waited;
    }

    // Ends a run whose items will not be taken: its workers stop.
    void halt()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        planEnded_ = true;
        itemPlanned_.notify_all();
    }

    // Returns how many items were counted but not taken after an interruption.
    std::size_t unplanned()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return unplanned_;
    }

    // Returns true when an interruption left items that were not looked for.
    bool restUnlooked()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return restUnlooked_;
    }

private:
    // Processes items until none is left (alone: none taken) or the run is interrupted, and always
    // finishes what the worker holds, so that an interruption finishes the items in flight.
    void work(ItemWorker &worker, bool alone)
    {
        std::size_t index = 0;
        std::size_t end = 0; // the items claimed and not yet processed: index to end
        for (;; ++index) {
            if (interrupted())
                break;
            if (index == end) {
                std::unique_lock<std::mutex> lock(mutex_);
                if (claimed_ == planned_ && !planEnded_ && !interrupted() && !alone) {
                    // Nothing to take yet: what the worker holds is finished before the wait, since
                    // the report may be waiting for it.
                    lock.unlock();
                    finish(worker);
                    lock.lock();
                    ++idleWorkers_;
                    while (claimed_ == planned_ && !planEnded_ && !interrupted())
                        itemPlanned_.wait_for(lock, std::chrono::milliseconds(100));
                    --idleWorkers_;
                }
                if (claimed_ == planned_ || interrupted())
                    break;
                index = claimed_;
                const std::size_t share = (planned_ - claimed_) / std::max<std::size_t>(workers_, 1);
                end = claimed_ + std::clamp<std::size_t>(share, 1, claimedTogether);
                claimed_ = end;
            }
            BatchItem item;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                item = slots_[index % runRingSize].first;
            }
            ItemResult result = worker.process(index, item);
            done_.fetch_add(1, std::memory_order_relaxed);
            if (result.outcome != ItemOutcome::Pending) {
                std::vector<std::pair<std::size_t, ItemResult>> one;
                one.emplace_back(index, std::move(result));
                file(one);
            }
            if (worker.full())
                finish(worker);
        }
        finish(worker);
        const std::lock_guard<std::mutex> lock(mutex_);
        stoppedWorkers_ = alone ? workers_ : stoppedWorkers_ + 1;
        finishedOne_.notify_one(); // the item awaited may be one that no worker will start
    }

    void finish(ItemWorker &worker)
    {
        // An item whose result is held stays in its slot: it has not been reported.
        std::vector<std::pair<std::size_t, ItemResult>> results = worker.finish([this](std::size_t index) {
            const std::lock_guard<std::mutex> lock(mutex_);
            return slots_[index % runRingSize].first;
        });
        if (!results.empty())
            file(results);
    }

    // Puts item into the next slot; the caller holds mutex_ or is alone.
    void plan(BatchItem &&item)
    {
        slots_[planned_ % runRingSize] = {std::move(item), {}};
        ++planned_;
    }

    // Counts the items not taken, after an interruption: held, those the caller holds, and those
    // left in the items when they know it. A walk of folders is not gone on with: the user who
    // stops a run wants it to end now.
    void countTheRest(std::size_t held)
    {
        const std::optional<std::size_t> left = items_.left();
        const std::lock_guard<std::mutex> lock(mutex_);
        unplanned_ += held + left.value_or(0);
        restUnlooked_ = restUnlooked_ || !left;
    }

    // Files results in their slots and wakes the report when it waits for one of them.
    void file(std::vector<std::pair<std::size_t, ItemResult>> &results)
    {
        bool wake = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            for (auto &[index, result] : results) {
                slots_[index % runRingSize].second = std::move(result);
                // Waking the report for results it does not wait for yet would only cost time.
                wake = wake || index == awaited_ || wakeOnEach_;
            }
        }
        if (wake)
            finishedOne_.notify_one();
    }

    BatchItems &items_;
    const RunOptions &options_;
    std::unique_ptr<ItemWorker> aloneWorker_;
    std::atomic<bool> stopped_{false};
    std::atomic<std::size_t> done_{0};
    std::mutex mutex_; // guards the members below it
    std::condition_variable itemPlanned_;
    std::condition_variable roomFreed_;
    std::condition_variable finishedOne_;
    std::vector<std::pair<BatchItem, ItemResult>> slots_; // item index % runRingSize
    std::size_t planned_ = 0;
    std::size_t claimed_ = 0;
    std::size_t reported_ = 0;
    std::size_t unplanned_ = 0;
    bool restUnlooked_ = false;
    bool planEnded_ = false;
    std::size_t idleWorkers_ = 0;
    std::size_t awaited_ = 0;
    bool wakeOnEach_ = false;
    std::size_t workers_ = 0;
    std::size_t stoppedWorkers_ = 0;
};

// Threads that are joined however the run ends: the one that takes the items, and the workers.
class Threads {
public:
    Threads() = default;
    ~Threads()
    {
        for (auto &thread : threads_)
            thread.join();
    }
    Threads(const Threads &) = delete;
    Threads &operator=(const Threads &) = delete;

    // Starts body; returns false when the system has no thread to give.
    template <typename Body> bool start(Body &&body)
    {
        try {
            threads_.emplace_back(std::forward<Body>(body));
            return true;
        } catch (const std::system_error &) {
            return false;
        }
    }

private:
    std::vector<std::thread> threads_;
};

// Reports the results of run in order and returns how many of the items taken were not started.
// Alone, the calling thread takes and processes a ring's worth of items before it reports them.
std::size_t reportInOrder(Run &run, bool alone, const RunOptions &options, const ItemWorkerFactory &newWorker,
                          RunReport &report)
{
    RunReport *const progress = options.progress ? &report : nullptr;
    std::size_t notStarted = 0;
    bool more = true;
    for (std::size_t index = 0;; ++index) {
        // Nobody reads the results any more: no item is started that could not be reported.
        if (report.closed())
            run.stop();
        if (alone && more && index % runRingSize == 0)
            more = run.planAndWork(newWorker, progress);
        // A new one each time: an item moved into one that held another would leave that one's
        // memory in the freed slot.
        std::pair<BatchItem, ItemResult> found;
        const Run::Waited waited = run.waitFor(index, progress, found);
        if (waited == Run::Waited::Ended)
            break;
        if (waited == Run::Waited::NotStarted)
            ++notStarted;
        else
            report.take(found.first, found.second);
    }
    return notStarted;
}

} // namespace

std::size_t runInOrder(BatchItems &items, const RunOptions &options, const ItemWorkerFactory &newWorker,
                       RunReport &report)
{
    if (options.workers > 0) {
        Run run(items, options);
        std::optional<std::size_t> notStarted;
        {
            Threads threads;
            std::size_t started = 0;
            while (started < options.workers && threads.start([&run, &newWorker] { run.work(newWorker); }))
                ++started;
            run.setWorkerCount(started);
            // The workers first: without one, a thread that took the items would fill the ring and
            // wait for ever; the calling thread does all of it instead, below.
            if (started > 0 && threads.start([&run] { run.planAll(); })) {
                try {
                    notStarted = reportInOrder(run, false, options, newWorker, report);
                } catch (...) {
                    run.stop(); // the threads end, with what the workers hold finished, before they are
                                // joined
                    throw;
                }
            } else
                run.halt(); // fewer threads than a worker and the one that takes the items: no threads
        }
        if (notStarted) {
            if (run.restUnlooked())
                report.restNotLookedAt();
            return *notStarted + run.unplanned();
        }
    }
    Run run(items, options);
    run.setWorkerCount(1);
    const std::size_t notStarted = reportInOrder(run, true, options, newWorker, report) + run.unplanned();
    if (run.restUnlooked())
        report.restNotLookedAt();
    return notStarted;
}

} // namespace quillarn
