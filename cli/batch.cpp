// Planning and running a batch of conversions for batch.h.
#include "batch.h"

#include "groupwriter.h"
#include "recordfile.h"
#include "sourcekind.h"
#include "text.h"
#include "translation.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace quillarn {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view recordExtension = ".ugi";

// Below this many records a batch runs on the calling thread: threads would cost more than they
// save.
constexpr std::size_t minItemsForWorkers = 8;

// Paths as messages and names show them: UTF-8 on every system. (On Windows path.string() is the
// ANSI code page, which cannot hold every name.)
std::string utf8(const fs::path &path)
{
    return path.u8string();
}

// A record file found in a folder, or a subfolder that could not be read (failure set).
struct Found {
    fs::path relative;
    std::string failure;
};

void collectRecords(const fs::path &root, const fs::path &relative, std::vector<Found> &found)
{
    std::error_code error;
    for (fs::directory_iterator it(root / relative, error), end; !error && it != end; it.increment(error)) {
        const fs::path name = it->path().filename();
        std::error_code ignored; // an entry that vanished or cannot be looked at is no folder
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            collectRecords(root, relative / name, found);
        else if (isRecordFileName(utf8(name)))
            found.push_back({relative / name, {}});
    }
    if (error)
        found.push_back({relative, error.message()});
}

// Where two spellings of a path name the same file as far as can be told without touching the
// disk: absolute, with "." and ".." resolved.
std::string pathKey(const fs::path &path, const fs::path &currentFolder)
{
    std::string key = utf8((path.is_absolute() ? path : currentFolder / path).lexically_normal());
#ifdef _WIN32
    // Names that differ only in letter case name one file there.
    std::transform(key.begin(), key.end(), key.begin(), lowerAscii);
#endif
    return key;
}

// isSourceItself, with the current folder looked up once by the caller.
bool isSourceItself(const fs::path &source, const fs::path &target, const fs::path &currentFolder)
{
    if (pathKey(source, currentFolder) == pathKey(target, currentFolder))
        return true;
    std::error_code error;
    return fs::equivalent(source, target, error) && !error;
}

// The progress bar: "[#####-----] 12/100 path", redrawn in place on one terminal line.
class ProgressBar {
public:
    ProgressBar(std::ostream &out, int width, std::size_t total) : out_(out), width_(width), total_(total) {}

    void draw(std::size_t done, const fs::path &current)
    {
        const auto now = std::chrono::steady_clock::now();
        if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(100))
            return; // a terminal cannot show more than this, and drawing costs time
        lastDrawn_ = now;
        shown_ = true;

        constexpr std::size_t barWidth = 20;
        const std::size_t filled = total_ == 0 ? barWidth : barWidth * done / total_;
        std::string line = "\r[" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "] " +
                           std::to_string(done) + "/" + std::to_string(total_) + " ";
        // One column short of the width, so that the cursor never wraps to the next line.
        const int room = width_ - 1 - static_cast<int>(line.size() - 1);
        line += fitted(utf8(current), room);
        line += "\x1b[K"; // erase what a longer previous line left
        out_.write(line.data(), static_cast<std::streamsize>(line.size()));
        out_.flush();
    }

    // Erases the bar so that a message or the summary starts on a clean line.
    void clear()
    {
        if (!shown_)
            return;
        out_.write("\r\x1b[K", 4);
        shown_ = false;
    }

private:
    // Returns the end of path cut to at most room columns, with "..." where it was cut. The path
    // is taken as UTF-8, a character of three bytes or more as two columns (CJK file names; at
    // worst the bar is a little short). Control characters in a file name become "?", so that a
    // name cannot move the cursor or talk to the terminal.
    static std::string fitted(std::string text, int room)
    {
        for (char &c : text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = '?';
        }
        std::vector<std::size_t> starts; // where each character starts
        std::vector<int> columns;
        for (std::size_t at = 0; at < text.size(); ++at) {
            const auto byte = static_cast<unsigned char>(text[at]);
            if ((byte & 0xC0) == 0x80 && !starts.empty())
                continue; // a continuation byte
            starts.push_back(at);
            columns.push_back(byte >= 0xE0 ? 2 : 1);
        }
        int total = 0;
        for (int c : columns)
            total += c;
        if (total <= room)
            return text;
        const int ellipsis = 3;
        if (room <= ellipsis)
            return {};
        int used = ellipsis;
        std::size_t first = starts.size();
        while (first > 0 && used + columns[first - 1] <= room)
            used += columns[--first];
        return "..." + (first < starts.size() ? text.substr(starts[first]) : std::string());
    }

    std::ostream &out_;
    int width_;
    std::size_t total_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point lastDrawn_;
};

enum class Outcome { Pending, Converted, Failed, Skipped, NotStarted };

struct Result {
    Outcome outcome = Outcome::Pending;
    // The reason of a failure, the note of a skip, the warnings of a record: one line each.
    std::string message;
};

// Returns the lines of warnings as one message.
std::string joined(const std::vector<std::string> &warnings)
{
    std::string message;
    for (const std::string &warning : warnings)
        message += (message.empty() ? "" : "\n") + warning;
    return message;
}

// The state a batch's threads share. Workers take items in order, write their records in groups
// (a record is in place once its group is committed) and file each result in its slot; the
// reporting thread waits for the slots in order, so messages keep the items' order whatever order
// the records finish in.
class BatchRun {
public:
    BatchRun(const std::vector<BatchItem> &items, const BatchOptions &options)
        : items_(items), options_(options), results_(items.size())
    {
    }

    // Returns true once the run has been asked to stop.
    bool interrupted() const { return options_.interrupted && options_.interrupted->load() != 0; }

    // The loop of a worker (or of the calling thread, when there are none): converts items until
    // none is left or the run is interrupted, and always commits the group it has begun, so that
    // an interruption finishes the records in flight.
    void work()
    {
        GroupWriter group(leftovers_, options_.groupLimits);
        // The items in the group with their warnings, for the results of its commit.
        std::vector<std::pair<std::size_t, std::string>> grouped;
        for (;;) {
            if (interrupted())
                break;
            const std::size_t index = claimed_.fetch_add(1, std::memory_order_relaxed);
            if (index >= items_.size())
                break;
            Result result = process(index, group);
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
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++stoppedWorkers_;
        }
        finishedOne_.notify_one(); // the item awaited may be one that no worker will start
    }

    // Tells how many workers there are, once they have been started.
    void setWorkerCount(std::size_t count)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        workers_ = count;
    }

    // Returns the result of item index once a worker has filed it, drawing progress meanwhile;
    // NotStarted when every worker has stopped without it.
    Result waitFor(std::size_t index, ProgressBar *progress)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        awaited_ = index;
        wakeOnEach_ = progress != nullptr;
        while (results_[index].outcome == Outcome::Pending) {
            if (stoppedWorkers_ == workers_)
                return {Outcome::NotStarted, {}};
            if (!progress) {
                finishedOne_.wait(lock);
                continue;
            }
            // Records are filed a group at a time: the bar also moves while a group fills.
            finishedOne_.wait_for(lock, std::chrono::milliseconds(100));
            lock.unlock();
            progress->draw(convertedCount(), items_[index].source);
            lock.lock();
        }
        return std::move(results_[index]);
    }

    // Returns how many items the workers are done with (converted but perhaps not yet in place).
    std::size_t convertedCount() const { return done_.load(std::memory_order_relaxed); }

private:
    // Returns the result of item index, or Pending when its record joined group.
    Result process(std::size_t index, GroupWriter &group)
    {
        const BatchItem &item = items_[index];
        if (!item.failure.empty())
            return {Outcome::Failed, item.failure};
        // Without --force an existing target is kept: the writer looks at it before the record is
        // converted, and its rename refuses to replace one that appeared since.
        const ExistingTarget existing = options_.force ? ExistingTarget::Replace : ExistingTarget::Keep;
        try {
            std::string bytes;
            std::string warnings;
            bool made = false; // whether the record's bytes were made: a failure after it is the write's
            try {
                group.add(
                    index, item.target,
                    [&]() -> std::string_view {
                        Conversion conversion = convertFile(item.source, options_.conversion);
                        warnings = joined(conversion.warnings);
                        if (options_.strict && !warnings.empty())
                            throw CommandFailure(warnings); // held back: reported, not written
                        bytes = std::move(conversion.bytes);
                        makeFolder(item.target.parent_path());
                        made = true;
                        return bytes;
                    },
                    existing);
            } catch (const TargetExists &) {
                throw;
            } catch (const CommandFailure &failure) {
                if (!made)
                    throw;
                return {Outcome::Failed, cannotWriteReason(utf8(item.target), failure.reason())};
            }
            return {Outcome::Pending, std::move(warnings)};
        } catch (const TargetExists &) {
            return skipped(item);
        } catch (const CommandFailure &failure) {
            return {Outcome::Failed, failure.reason()};
        } catch (const std::bad_alloc &) {
            return {Outcome::Failed, "out of memory"};
        } catch (const std::exception &error) {
            return {Outcome::Failed, error.what()};
        }
    }

    static Result skipped(const BatchItem &item)
    {
        return {Outcome::Skipped, "skipped, " + utf8(item.target) + " exists (--force replaces it)"};
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
                if (written.targetExists)
                    results.emplace_back(written.id, skipped(items_[written.id]));
                else if (written.reason.empty())
                    results.emplace_back(written.id, Result{Outcome::Converted, std::move(warnings)});
                else
                    results.emplace_back(
                        written.id, Result{Outcome::Failed, cannotWriteReason(utf8(items_[written.id].target),
                                                                              written.reason)});
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
                results_[index] = std::move(result);
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
        fs::create_directories(folder, error);
        if (error)
            throw CommandFailure("cannot create folder " + utf8(folder) + ": " + error.message());
        madeFolders_.insert(folder);
    }

    const std::vector<BatchItem> &items_;
    const BatchOptions &options_;
    LeftoverTemporaries leftovers_;
    std::atomic<std::size_t> claimed_{0};
    std::atomic<std::size_t> done_{0};
    std::mutex mutex_; // guards the members below it up to folderMutex_
    std::condition_variable finishedOne_;
    std::vector<Result> results_;
    std::size_t awaited_ = 0;
    bool wakeOnEach_ = false;
    std::size_t workers_ = 0;
    std::size_t stoppedWorkers_ = 0;
    std::mutex folderMutex_;
    std::set<fs::path> madeFolders_;
};

// Worker threads that are joined however the run ends.
class WorkerPool {
public:
    WorkerPool(BatchRun &run, int count)
    {
        for (int i = 0; i < count; ++i) {
            try {
                threads_.emplace_back([&run] { run.work(); });
            } catch (const std::system_error &) {
                break; // fewer threads, or none: the run goes on with what it has
            }
        }
    }
    ~WorkerPool()
    {
        for (auto &thread : threads_)
            thread.join();
    }
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;
    std::size_t size() const { return threads_.size(); }

private:
    std::vector<std::thread> threads_;
};

// Writing a record ends in a flush to disk that takes far longer than converting it, so a batch has
// more workers than processors: while some wait for the disk, the others convert.
int workerCount(const BatchOptions &options, std::size_t items)
{
    if (options.workers == 1)
        return 0;
    if (options.workers > 1)
        return options.workers;
    if (items < minItemsForWorkers)
        return 0;
    return static_cast<int>(std::min<std::size_t>(items, maxBatchWorkers));
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

bool isRecordFileName(const std::string &name)
{
    if (name.size() <= recordExtension.size())
        return false;
    const std::size_t start = name.size() - recordExtension.size();
    for (std::size_t i = 0; i < recordExtension.size(); ++i) {
        if (lowerAscii(name[start + i]) != recordExtension[i])
            return false;
    }
    return true;
}

std::string targetFileName(const std::string &sourceName)
{
    if (isRecordFileName(sourceName))
        return sourceName.substr(0, sourceName.size() - recordExtension.size()) + ".sgf";
    return utf8(fs::u8path(sourceName).stem()) + ".sgf";
}

std::vector<BatchItem> planBatch(const std::vector<fs::path> &paths,
                                 const std::optional<fs::path> &outputFolder)
{
    std::vector<BatchItem> items;
    for (const fs::path &path : paths) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (!fs::exists(status)) {
            items.push_back({path, {}, error ? error.message() : "No such file or directory"});
        } else if (fs::is_directory(status)) {
            std::vector<Found> found;
            collectRecords(path, {}, found);
            // A mistyped archive folder must not look like a run that converted everything.
            if (found.empty())
                items.push_back({path, {}, "no .ugi records"});
            std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
                return a.relative.native() < b.relative.native();
            });
            for (const Found &f : found) {
                if (!f.failure.empty()) {
                    items.push_back({path / f.relative, {}, f.failure});
                    continue;
                }
                const fs::path folder = outputFolder ? *outputFolder / f.relative.parent_path()
                                                     : (path / f.relative).parent_path();
                items.push_back({path / f.relative,
                                 folder / fs::u8path(targetFileName(utf8(f.relative.filename()))),
                                 {}});
            }
        } else {
            const fs::path folder = outputFolder ? *outputFolder : path.parent_path();
            items.push_back({path, folder / fs::u8path(targetFileName(utf8(path.filename()))), {}});
        }
    }

    // Each target is written by one record only: the first in order; a later one fails rather
    // than replace it. The same record reached twice (a file and its folder both given) is one.
    std::error_code error;
    const fs::path currentFolder = fs::current_path(error);
    std::unordered_map<std::string, std::size_t> ownerOfTarget; // target key -> index in kept
    std::vector<BatchItem> kept;
    kept.reserve(items.size());
    for (BatchItem &item : items) {
        if (item.failure.empty()) {
            const std::string target = pathKey(item.target, currentFolder);
            const auto owner = ownerOfTarget.find(target);
            if (owner != ownerOfTarget.end()) {
                const BatchItem &first = kept[owner->second];
                if (pathKey(first.source, currentFolder) == pathKey(item.source, currentFolder))
                    continue;
                item.failure = "its output " + utf8(item.target) + " is also the output of " +
                               utf8(first.source) + "; not converted";
            } else if (isSourceItself(item.source, item.target, currentFolder)) {
                item.failure = outputIsSourceReason(utf8(item.target));
            } else {
                ownerOfTarget.emplace(target, kept.size());
            }
            if (!item.failure.empty())
                item.target.clear();
        }
        kept.push_back(std::move(item));
    }
    return kept;
}

Conversion convertFile(const fs::path &path, const ConversionOptions &options)
{
    return convertSource(readFileBytes(path), options);
}

BatchSummary runBatch(const std::vector<BatchItem> &items, const BatchOptions &options,
                      std::ostream &messages)
{
    BatchRun run(items, options);
    std::optional<ProgressBar> progress;
    if (options.progress && !options.quiet)
        progress.emplace(messages, options.terminalWidth, items.size());

    BatchSummary summary;
    const WorkerPool pool(run, workerCount(options, items.size()));
    if (pool.size() == 0) {
        // No threads: the calling thread converts everything first, then reports.
        if (progress && !items.empty())
            progress->draw(0, items.front().source);
        run.setWorkerCount(1);
        run.work();
    } else {
        run.setWorkerCount(pool.size());
    }
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (progress)
            progress->draw(run.convertedCount(), items[index].source);
        const Result result = run.waitFor(index, progress ? &*progress : nullptr);
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
        if (progress)
            progress->clear();
        std::string lines;
        for (std::size_t start = 0; start <= result.message.size();) {
            const std::size_t end = std::min(result.message.find('\n', start), result.message.size());
            lines += utf8(items[index].source) + ": " + result.message.substr(start, end - start) + "\n";
            start = end + 1;
        }
        messages.write(lines.data(), static_cast<std::streamsize>(lines.size()));
    }
    if (progress)
        progress->clear();
    messages.flush();
    return summary;
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
