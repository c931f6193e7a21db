// Planning and running a batch of conversions for batch.h.
#include "batch.h"

#include "casefold.h"
#include "folders.h"
#include "hints.h"
#include "recordfile.h"
#include "recordname.h"
#include "terminal.h"
#include "text.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace quillarn {

namespace fs = std::filesystem;

namespace {

// Below this many records a batch runs on the calling thread: threads would cost more than they
// save.
constexpr std::size_t minItemsForWorkers = 8;

// How many items a worker takes at a time, at most: fewer when there are not so many for each.
constexpr std::size_t claimedTogether = 128;

// How many items may be planned ahead of the one reported last: the walk runs ahead of the workers
// this far, and no further, whatever the size of the archive.
constexpr std::size_t planAhead = 4096;

// Paths as messages and names show them: UTF-8 on every system. (On Windows path.string() is the
// ANSI code page, which cannot hold every name.)
std::string utf8(const fs::path &path)
{
    return path.u8string();
}

// A path as a message shows it: control characters escaped (terminal.h).
std::string shown(const fs::path &path)
{
    return shownText(path.u8string());
}

// A name as the file system compares names: on Windows, names that differ only in letter case, in
// any script, name one file.
std::string nameKey(std::string name)
{
#ifdef _WIN32
    return foldedCase(name);
#else
    return name;
#endif
}

// Where two spellings of a path name the same file as far as can be told without touching the
// disk: absolute, with "." and ".." resolved.
std::string pathKey(const fs::path &path, const fs::path &currentFolder)
{
    return nameKey(utf8((path.is_absolute() ? path : currentFolder / path).lexically_normal()));
}

// isSourceItself, with the current folder looked up once by the caller.
bool isSourceItself(const fs::path &source, const fs::path &target, const fs::path &currentFolder)
{
    return pathKey(source, currentFolder) == pathKey(target, currentFolder) || sameFile(source, target);
}

std::string alsoTheOutputOf(const fs::path &target, const std::string &first)
{
    return "its output " + shown(target) + " is also the output of " + shownText(first) + "; not converted";
}

} // namespace

std::string outputIsSourceReason(const std::string &output)
{
    return "the output " + output + " would replace the source";
}

bool isSourceItself(const fs::path &source, const fs::path &target)
{
    std::error_code error;
    return isSourceItself(source, target, fs::current_path(error));
}

// The walk of a plan: the paths given, one after the other, and for a folder a stack of the
// folders being walked, each listed once, its entries in order.
struct BatchPlan::Walk {
    // An entry of a folder that the walk visits: a subfolder, or a record file.
    struct Entry {
        std::string key; // the order of the walk: the name, and for a folder the name and "/"
        fs::path name;
        bool folder;
        std::string failure; // why the entry could not be looked at
    };
    // A folder being walked, below the path given.
    struct Frame {
        fs::path relative;
        std::vector<Entry> entries; // in order
        std::size_t next = 0;
        std::unordered_set<std::string> targets;          // names of the target folder (nameKey)
        std::unordered_map<std::string, std::string> own; // target name key -> the first source
    };

    std::vector<fs::path> paths;
    std::optional<fs::path> outputFolder;
    bool counting = false; // only counting items: no targets are worked out
    std::size_t nextPath = 0;
    fs::path currentFolder;
    fs::path root;         // the folder given that is being walked
    bool foundAny = false; // whether its walk has found an item
    std::vector<Frame> stack;
    std::deque<BatchItem> ready; // items found but not yet taken
    // With several paths, records of different paths may share a target: target key -> the first
    // record's source key and its name in messages.
    std::unordered_map<std::string, std::pair<std::string, std::string>> ownerOfTarget;

    // Lists the folder relative below root and pushes it; a folder that cannot be read becomes a
    // failing item, with what could be read of it walked all the same.
    void enter(const fs::path &relative)
    {
        Frame frame;
        frame.relative = relative;
        std::error_code error;
        for (Listed &entry : listFolder(root / relative, error)) {
            const std::string name = utf8(entry.name);
            // A link is never walked, even to a folder; an entry that could not be looked at may
            // be one, and fails.
            if (entry.type == fs::file_type::directory || !entry.failure.empty())
                frame.entries.push_back({name + "/", std::move(entry.name), true, std::move(entry.failure)});
            else if (isRecordFileName(name))
                frame.entries.push_back({name, std::move(entry.name), false, {}});
            else if (!outputFolder && !counting)
                frame.targets.insert(nameKey(name));
        }
        if (error) {
            ready.push_back({root / relative, {}, error.message()});
            foundAny = true;
        }
        std::sort(frame.entries.begin(), frame.entries.end(),
                  [](const Entry &a, const Entry &b) { return a.key < b.key; });
        if (outputFolder && !counting) {
            // The target folder, listed once for all the targets in it; one not made yet holds none.
            std::error_code absent;
            for (const Listed &entry : listFolder(*outputFolder / relative, absent))
                frame.targets.insert(nameKey(utf8(entry.name)));
        }
        stack.push_back(std::move(frame));
    }

    // Returns the item of a record, its target worked out and checked.
    BatchItem record(const fs::path &source, const fs::path &targetFolder, const fs::path &name, Frame *frame)
    {
        BatchItem item{source, targetFolder / fs::u8path(targetFileName(utf8(name))), {}};
        if (counting)
            return item;
        const std::string targetName = nameKey(utf8(item.target.filename()));
        if (frame) {
            item.targetState =
                frame->targets.count(targetName) != 0 ? TargetState::Present : TargetState::Absent;
        }
        // Each target is written by one record only: the first in order; a later one fails rather
        // than replace it. The same record reached twice (a file and its folder both given) is one.
        if (paths.size() > 1) {
            const std::string target = pathKey(item.target, currentFolder);
            const std::string sourceKey = pathKey(item.source, currentFolder);
            const auto owner = ownerOfTarget.find(target);
            if (owner != ownerOfTarget.end()) {
                if (owner->second.first == sourceKey)
                    return {};
                item.failure = alsoTheOutputOf(item.target, owner->second.second);
            } else {
                ownerOfTarget.emplace(target, std::make_pair(sourceKey, utf8(item.source)));
            }
        } else if (frame) {
            const auto owner = frame->own.find(targetName);
            if (owner != frame->own.end())
                item.failure = alsoTheOutputOf(item.target, owner->second);
            else
                frame->own.emplace(targetName, utf8(item.source));
        }
        // Only a target that is there can be the source: a record of a folder has a name of its own.
        if (item.failure.empty() &&
            ((frame == nullptr &&
              pathKey(item.source, currentFolder) == pathKey(item.target, currentFolder)) ||
             (item.targetState != TargetState::Absent && sameFile(item.source, item.target))))
            item.failure = outputIsSourceReason(shown(item.target));
        if (!item.failure.empty()) {
            item.target.clear();
            item.targetState = TargetState::Unknown;
        }
        return item;
    }

    // Finds the next item and puts it in ready; returns false when there are no more.
    bool find()
    {
        while (ready.empty()) {
            if (!stack.empty()) {
                Frame &frame = stack.back();
                if (frame.next == frame.entries.size()) {
                    stack.pop_back();
                    continue;
                }
                const Entry &entry = frame.entries[frame.next++];
                const fs::path relative = frame.relative / entry.name;
                if (!entry.failure.empty()) {
                    ready.push_back({root / relative, {}, entry.failure});
                    foundAny = true;
                    continue;
                }
                if (entry.folder) {
                    enter(relative);
                    continue;
                }
                foundAny = true;
                const fs::path targetFolder =
                    outputFolder ? *outputFolder / frame.relative : root / frame.relative;
                BatchItem item = record(root / relative, targetFolder, entry.name, &frame);
                if (!item.source.empty())
                    ready.push_back(std::move(item));
                continue;
            }
            if (!root.empty()) {
                // A mistyped archive folder must not look like a run that converted everything.
                if (!foundAny)
                    ready.push_back({root, {}, "no .ugi records"});
                root.clear();
                continue;
            }
            if (nextPath == paths.size())
                return false;
            const fs::path &path = paths[nextPath++];
            std::error_code error;
            const fs::file_type type = typeOf(path, error);
            if (type == fs::file_type::not_found || type == fs::file_type::none) {
                ready.push_back({path, {}, error ? error.message() : "No such file or directory"});
            } else if (type == fs::file_type::directory) {
                root = path;
                foundAny = false;
                enter({});
            } else {
                BatchItem item =
                    record(path, outputFolder ? *outputFolder : path.parent_path(), path.filename(), nullptr);
                if (!item.source.empty())
                    ready.push_back(std::move(item));
            }
        }
        return true;
    }
};

BatchPlan::BatchPlan(std::vector<fs::path> paths, std::optional<fs::path> outputFolder) : walk_(new Walk)
{
    walk_->paths = std::move(paths);
    walk_->outputFolder = std::move(outputFolder);
    std::error_code error;
    walk_->currentFolder = fs::current_path(error);
}

BatchPlan::~BatchPlan() = default;

bool BatchPlan::next(BatchItem &item)
{
    if (!walk_->find())
        return false;
    item = std::move(walk_->ready.front());
    walk_->ready.pop_front();
    return true;
}

std::size_t BatchPlan::count() const
{
    BatchPlan counter(walk_->paths, walk_->outputFolder);
    counter.walk_->counting = true;
    std::size_t items = 0;
    for (BatchItem item; counter.next(item);)
        ++items;
    return items;
}

std::vector<BatchItem> planBatch(const std::vector<fs::path> &paths,
                                 const std::optional<fs::path> &outputFolder)
{
    BatchPlan plan(paths, outputFolder);
    std::vector<BatchItem> items;
    for (BatchItem item; plan.next(item);)
        items.push_back(std::move(item));
    return items;
}

namespace {

enum class Outcome { Pending, Converted, Failed, Skipped, NotStarted };

struct Result {
    Outcome outcome = Outcome::Pending;
    // The reason of a failure, the note of a skip, the warnings of a record: one line each.
    std::string message;
};

// Returns the lines of warnings as one message.
std::string joined(const std::vector<Warning> &warnings)
{
    std::string message;
    for (const Warning &warning : warnings)
        message += (message.empty() ? "" : "\n") + commandLineReason(warning);
    return message;
}

Result skipped(const fs::path &target)
{
    return {Outcome::Skipped, "skipped, " + shown(target) + " exists (--force replaces it)"};
}

// The state a batch's threads share. The items are planned (the folders walked) by a thread of
// their own into a ring of slots, at most planAhead ahead of the reporting; workers take them in
// order, write their records in groups (a record is in place once its group is committed) and file
// each result in its item's slot; the reporting thread waits for the slots in order, so messages
// keep the items' order whatever order the records finish in. Without threads the calling thread
// does each in turn, a ring at a time.
class BatchRun {
public:
    BatchRun(BatchItems &items, const BatchOptions &options)
        : items_(items), options_(options), slots_(planAhead)
    {
    }

    // Returns true once the run has been asked to stop.
    bool interrupted() const
    {
        return stopped_.load() || (options_.interrupted && options_.interrupted->load() != 0);
    }

    // Stops the run as an interruption does: no further record is started, the groups begun are
    // committed.
    void stop()
    {
        stopped_ = true;
        const std::lock_guard<std::mutex> lock(mutex_);
        roomFreed_.notify_all();
        itemPlanned_.notify_all();
    }

    // The walk: plans items into free slots until there are no more, or until an interruption,
    // after which it only counts the items left.
    void planAll()
    {
        for (BatchItem item; items_.next(item);) {
            std::unique_lock<std::mutex> lock(mutex_);
            // Woken once the reporting has freed half of the ring; an interruption is seen in time.
            while (planned_ == reported_ + planAhead && !interrupted())
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

    // Without threads: plans the items that fit into the ring and converts them, telling status how
    // far the run is first. Returns false once there are no more.
    bool planAndWork(BatchStatus *status, std::size_t total)
    {
        BatchItem item;
        while (planned_ < reported_ + planAhead && !interrupted() && items_.next(item))
            plan(std::move(item));
        if (interrupted())
            countTheRest(0);
        planEnded_ = planned_ < reported_ + planAhead || interrupted();
        if (status && reported_ < planned_)
            status->progress(done_.load(std::memory_order_relaxed), total,
                             slots_[reported_ % planAhead].first.source);
        work(true);
        return !planEnded_;
    }

    // The loop of a worker (or of the calling thread alone, without workers): converts items until
    // none is left (alone: none planned) or the run is interrupted, and always commits the group it
    // has begun, so that an interruption finishes the records in flight.
    void work(bool alone)
    {
        GroupWriter group(leftovers_, options_.groupLimits);
        ReadBuffer buffer;
        // The items in the group with their warnings, for the results of its commit.
        std::vector<std::pair<std::size_t, std::string>> grouped;
        std::size_t index = 0;
        std::size_t end = 0; // the items claimed and not yet taken: index to end
        for (;; ++index) {
            if (interrupted())
                break;
            if (index == end) {
                std::unique_lock<std::mutex> lock(mutex_);
                if (claimed_ == planned_ && !planEnded_ && !interrupted() && !alone) {
                    // Nothing to take yet: the records in hand go to disk before the wait, since the
                    // reporting may be waiting for them.
                    lock.unlock();
                    commit(group, grouped);
                    lock.lock();
                    ++idleWorkers_;
                    while (claimed_ == planned_ && !planEnded_ && !interrupted())
                        itemPlanned_.wait_for(lock, std::chrono::milliseconds(100));
                    --idleWorkers_;
                }
                if (claimed_ == planned_ || interrupted())
                    break;
                // A run of items at a time: they mostly share a folder, and a folder takes one new
                // file at a time, so workers that share one wait for each other.
                index = claimed_;
                const std::size_t share = (planned_ - claimed_) / std::max<std::size_t>(workers_, 1);
                end = claimed_ + std::clamp<std::size_t>(share, 1, claimedTogether);
                claimed_ = end;
            }
            Result result = process(index, group, buffer);
            done_.fetch_add(1, std::memory_order_relaxed);
            if (result.outcome == Outcome::Pending) {
                grouped.emplace_back(index, std::move(result.message));
            } else {
                std::vector<std::pair<std::size_t, Result>> one;
                one.emplace_back(index, std::move(result));
                file(one);
            }
            if (group.full())
                commit(group, grouped);
        }
        commit(group, grouped);
        const std::lock_guard<std::mutex> lock(mutex_);
        // Alone, the calling thread stops after each ring and is still the one worker.
        stoppedWorkers_ = alone ? workers_ : stoppedWorkers_ + 1;
        finishedOne_.notify_one(); // the item awaited may be one that no worker will start
    }

    // Tells how many workers there are, once they have been started.
    void setWorkerCount(std::size_t count)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        workers_ = count;
    }

    // Returns the item index and its result once a worker has filed it, telling status how far the
    // run is meanwhile; NotStarted when every worker has stopped without it; nothing when there is
    // no such item. Frees the item's slot.
    std::optional<std::pair<BatchItem, Result>> waitFor(std::size_t index, BatchStatus *status,
                                                        std::size_t total)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        awaited_ = index;
        wakeOnEach_ = status != nullptr;
        std::optional<std::pair<BatchItem, Result>> found;
        for (bool drawn = false;; drawn = true) {
            if (status && (drawn || index < planned_)) {
                const fs::path current =
                    index < planned_ ? slots_[index % planAhead].first.source : fs::path();
                lock.unlock();
                status->progress(done_.load(std::memory_order_relaxed), total, current);
                lock.lock();
            }
            if (index < planned_ && slots_[index % planAhead].second.outcome != Outcome::Pending)
                break;
            if (index >= planned_ && planEnded_)
                return found;
            if (stoppedWorkers_ == workers_ && index < planned_) {
                slots_[index % planAhead].second = {Outcome::NotStarted, {}};
                break;
            }
            if (!status) {
                finishedOne_.wait(lock);
                continue;
            }
            // Records are filed a group at a time: the progress also moves while a group fills.
            finishedOne_.wait_for(lock, std::chrono::milliseconds(100));
        }
        found = std::move(slots_[index % planAhead]);
        reported_ = index + 1;
        // The walk waits for room; waking it for each slot would only cost time.
        if (planned_ - reported_ == planAhead / 2)
            roomFreed_.notify_one();
        return found;
    }

    // Ends a run that has no walk: its workers stop.
    void halt()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        planEnded_ = true;
        itemPlanned_.notify_all();
    }

    // Returns how many items were counted but not planned after an interruption.
    std::size_t unplanned()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return unplanned_;
    }

private:
    // Puts item into the next slot; the caller holds mutex_ or is alone.
    void plan(BatchItem &&item)
    {
        slots_[planned_ % planAhead] = {std::move(item), {}};
        ++planned_;
    }

    // Counts the items not planned, after an interruption: those the walk holds and those it has not
    // reached.
    void countTheRest(std::size_t held)
    {
        std::size_t left = held;
        for (BatchItem item; items_.next(item);)
            ++left;
        const std::lock_guard<std::mutex> lock(mutex_);
        unplanned_ += left;
    }

    // Returns the result of item index, or Pending when its record joined group.
    Result process(std::size_t index, GroupWriter &group, ReadBuffer &buffer)
    {
        BatchItem item;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            item = slots_[index % planAhead].first;
        }
        if (!item.failure.empty())
            return {Outcome::Failed, item.failure};
        // Without --force an existing target is kept: the listing of its folder tells, and the
        // writer's rename refuses one that appeared since; a target the listing did not show is
        // not looked at again. With --force the writer looks, to keep a replaced file's mode.
        if (!options_.force && item.targetState == TargetState::Present)
            return skipped(item.target);
        const ExistingTarget existing = options_.force ? ExistingTarget::Replace : ExistingTarget::Keep;
        const TargetLook look = !options_.force && item.targetState == TargetState::Absent
                                    ? TargetLook::KnownAbsent
                                    : TargetLook::Look;
        ConversionOptions conversion = options_.conversion;
        conversion.strict = options_.strict;
        ConversionReport report;
        // A failure names the target unless it is the record's (or the folder's, which says so).
        bool making = false;
        bool writing = false;
        try {
            const bool written = group.add(
                index, systemPath(item.target),
                [&](RecordSink &sink) {
                    making = true;
                    const std::string_view source = readFileInto(systemPath(item.source), buffer);
                    makeFolder(item.target.parent_path());
                    NotingSink noting(sink, writing);
                    report = convertRecord(source, conversion, noting);
                },
                existing, look);
            if (!written)
                return {Outcome::Failed, joined(report.warnings)}; // held back for its warnings
            return {Outcome::Pending, joined(report.warnings)};
        } catch (const TargetExists &) {
            return skipped(item.target);
        } catch (const CommandFailure &failure) {
            if (making && !writing)
                return {Outcome::Failed, commandLineReason(failure)};
            return {Outcome::Failed, cannotWriteReason(shown(item.target), failure.reason())};
        } catch (const std::bad_alloc &) {
            return {Outcome::Failed, "out of memory"};
        } catch (const std::exception &error) {
            return {Outcome::Failed, error.what()};
        }
    }

    // Commits group and files the results of its records.
    void commit(GroupWriter &group, std::vector<std::pair<std::size_t, std::string>> &grouped)
    {
        if (group.empty())
            return;
        std::vector<std::pair<std::size_t, Result>> results;
        try {
            // The group commits its files in the order they were added.
            std::size_t next = 0;
            for (GroupWriter::Result &written : group.commit()) {
                while (next < grouped.size() && grouped[next].first != written.id)
                    ++next;
                std::string warnings =
                    next < grouped.size() ? std::move(grouped[next].second) : std::string();
                fs::path target;
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    target = slots_[written.id % planAhead].first.target;
                }
                if (written.targetExists)
                    results.emplace_back(written.id, skipped(target));
                else if (written.reason.empty())
                    results.emplace_back(written.id, Result{Outcome::Converted, std::move(warnings)});
                else
                    results.emplace_back(
                        written.id,
                        Result{Outcome::Failed, cannotWriteReason(shown(target), written.reason)});
            }
        } catch (const std::bad_alloc &) {
            group.discard();
            results.clear();
            for (const auto &member : grouped)
                results.emplace_back(member.first, Result{Outcome::Failed, "out of memory"});
        }
        grouped.clear();
        file(results);
    }

    // Files results in their slots and wakes the reporter when it waits for one of them.
    void file(std::vector<std::pair<std::size_t, Result>> &results)
    {
        bool wake = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            for (auto &[index, result] : results) {
                slots_[index % planAhead].second = std::move(result);
                // Waking the reporter for results it does not wait for yet would only cost time.
                wake = wake || index == awaited_ || wakeOnEach_;
            }
        }
        if (wake)
            finishedOne_.notify_one();
    }

    // Creates folder and its parents once per run; raises CommandFailure with the system's reason.
    void makeFolder(const fs::path &folder)
    {
        if (folder.empty())
            return;
        const std::lock_guard<std::mutex> lock(folderMutex_);
        if (madeFolders_.count(folder) != 0)
            return;
        std::error_code error;
        makeFolders(folder, error);
        if (error)
            throw CommandFailure("cannot create folder " + shown(folder) + ": " + error.message());
        madeFolders_.insert(folder);
    }

    BatchItems &items_;
    const BatchOptions &options_;
    LeftoverTemporaries leftovers_;
    std::atomic<bool> stopped_{false};
    std::atomic<std::size_t> done_{0};
    std::mutex mutex_; // guards the members below it up to folderMutex_
    std::condition_variable itemPlanned_;
    std::condition_variable roomFreed_;
    std::condition_variable finishedOne_;
    std::vector<std::pair<BatchItem, Result>> slots_; // item index % planAhead
    std::size_t planned_ = 0;
    std::size_t claimed_ = 0;
    std::size_t reported_ = 0;
    std::size_t unplanned_ = 0;
    bool planEnded_ = false;
    std::size_t idleWorkers_ = 0;
    std::size_t awaited_ = 0;
    bool wakeOnEach_ = false;
    std::size_t workers_ = 0;
    std::size_t stoppedWorkers_ = 0;
    std::mutex folderMutex_;
    std::set<fs::path> madeFolders_;
};

// Threads that are joined however the run ends: the walk and the workers.
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

    // Starts run; returns false when the system has no thread to give.
    template <typename Run> bool start(Run &&run)
    {
        try {
            threads_.emplace_back(std::forward<Run>(run));
            return true;
        } catch (const std::system_error &) {
            return false;
        }
    }
    std::size_t size() const { return threads_.size(); }

private:
    std::vector<std::thread> threads_;
};

// Writing a record ends in a flush to disk that takes far longer than converting it, so a batch has
// more workers than processors: while some wait for the disk, the others convert.
int workerCount(const BatchOptions &options, std::size_t total)
{
    if (options.workers == 1)
        return 0;
    if (options.workers > 1)
        return options.workers;
    if (total != 0 && total < minItemsForWorkers)
        return 0;
    return static_cast<int>(total == 0 ? maxBatchWorkers : std::min<std::size_t>(total, maxBatchWorkers));
}

// Returns "source: line" for each line of message, with control characters escaped: a line may
// quote the record.
std::string messageLines(const fs::path &source, const std::string &message)
{
    std::string lines;
    for (std::size_t start = 0; start <= message.size();) {
        const std::size_t end = std::min(message.find('\n', start), message.size());
        lines +=
            shown(source) + ": " + shownText(std::string_view(message).substr(start, end - start)) + "\n";
        start = end + 1;
    }
    return lines;
}

// Items of a list made before.
class ListedItems : public BatchItems {
public:
    explicit ListedItems(const std::vector<BatchItem> &items) : items_(items) {}
    bool next(BatchItem &item) override
    {
        if (next_ == items_.size())
            return false;
        item = items_[next_++];
        return true;
    }

private:
    const std::vector<BatchItem> &items_;
    std::size_t next_ = 0;
};

} // namespace

namespace {

// Reports the results of run in order to status and returns the counts. Alone, the calling thread
// plans and converts a ring's worth of items before it reports them, and goes on.
BatchSummary report(BatchRun &run, bool alone, std::size_t total, const BatchOptions &options,
                    BatchStatus &status)
{
    BatchStatus *const progress = options.progress && !options.quiet ? &status : nullptr;
    BatchSummary summary;
    bool more = true;
    for (std::size_t index = 0;; ++index) {
        // Nobody reads the messages any more: no record is started that could not be reported.
        if (status.closed())
            run.stop();
        if (alone && more && index % planAhead == 0)
            more = run.planAndWork(progress, total);
        std::optional<std::pair<BatchItem, Result>> found = run.waitFor(index, progress, total);
        if (!found)
            break;
        const Result &result = found->second;
        switch (result.outcome) {
        case Outcome::Converted:
            ++summary.converted;
            if (result.message.empty())
                continue;
            ++summary.withWarnings;
            if (options.quiet)
                continue;
            break;
        case Outcome::Failed:
            ++summary.failed;
            break;
        case Outcome::Skipped:
            ++summary.skipped;
            if (options.quiet)
                continue;
            break;
        case Outcome::NotStarted:
            ++summary.notStarted;
            continue;
        case Outcome::Pending:
            continue; // never filed as a result
        }
        status.message(messageLines(found->first.source, result.message));
    }
    return summary;
}

} // namespace

BatchSummary runBatch(BatchItems &items, std::size_t total, const BatchOptions &options, BatchStatus &status)
{
    if (const int workers = workerCount(options, total); workers > 0) {
        BatchRun run(items, options);
        std::optional<BatchSummary> summary;
        {
            Threads threads;
            int started = 0;
            while (started < workers && threads.start([&run] { run.work(false); }))
                ++started;
            run.setWorkerCount(static_cast<std::size_t>(started));
            if (started > 0 && threads.start([&run] { run.planAll(); })) {
                try {
                    summary = report(run, false, total, options, status);
                } catch (...) {
                    run.stop(); // the threads end, with the groups begun committed, before they are joined
                    throw;
                }
            } else
                run.halt(); // fewer threads than a walk and a worker: the calling thread does it all
        }
        if (summary) {
            summary->notStarted += run.unplanned();
            return *summary;
        }
    }
    BatchRun run(items, options);
    run.setWorkerCount(1);
    BatchSummary summary = report(run, true, total, options, status);
    summary.notStarted += run.unplanned();
    return summary;
}

BatchSummary runBatch(const std::vector<BatchItem> &items, const BatchOptions &options,
                      std::ostream &messages)
{
    ListedItems listed(items);
    TerminalStatus status(messages, options.progress, options.terminalWidth);
    return runBatch(listed, items.size(), options, status);
}

std::string summaryLine(const BatchSummary &summary)
{
    std::string line = std::to_string(summary.converted) + " converted";
    if (summary.withWarnings != 0)
        line += " (" + std::to_string(summary.withWarnings) + " with warnings)";
    line +=
        ", " + std::to_string(summary.failed) + " failed, " + std::to_string(summary.skipped) + " skipped";
    if (summary.notStarted != 0)
        line += ", " + std::to_string(summary.notStarted) + " not converted (interrupted)";
    return line;
}

} // namespace quillarn
