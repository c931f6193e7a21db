// The conversion of each item and the reporting of batch.h, on the runner of batchrunner.h.
#include "batch.h"

#include "batchrunner.h"
#include "filesystem.h"
#include "language.h"
#include "recordoutput.h"
#include "shown.h"
#include "terminal.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <system_error>

namespace quillarn {

namespace fs = std::filesystem;

namespace {

// Below this many records a batch runs on the calling thread: threads would cost more than they
// save.
constexpr std::size_t minItemsForWorkers = 8;

// Writing a record ends in a flush to disk that takes far longer than converting it, so a batch has
// more workers than processors: while some wait for the disk, the others convert.
std::size_t workerCount(const BatchOptions &options, std::size_t total)
{
    if (options.workers == 1)
        return 0;
    if (options.workers > 1)
        return static_cast<std::size_t>(options.workers);
    if (total != 0 && total < minItemsForWorkers)
        return 0;
    return total == 0 ? maxBatchWorkers : std::min<std::size_t>(total, maxBatchWorkers);
}

// The warnings of a record as one message, a line each: the report gives each line the source's
// name.
std::string joined(const std::vector<std::string> &warnings)
{
    std::string message;
    for (const std::string &warning : warnings)
        message += (message.empty() ? "" : "\n") + warning;
    return message;
}

ItemResult skipped(const fs::path &target)
{
    return {ItemOutcome::Skipped, said(Reason(Said::Skipped, {existsReason(shownPath(target))}))};
}

// What the workers of a batch share: the file system, the leftovers of killed writes, which each
// folder is searched for once, and the folders made.
class Conversions {
public:
    explicit Conversions(const BatchOptions &options)
        : options(options), system(options.system ? *options.system : systemFileSystem()),
          groupLimits(options.groupLimits)
    {
        groupLimits.system = &system;
    }

    // Returns true when folder was made (or found) before in this run, or is the current folder.
    bool madeBefore(const fs::path &folder)
    {
        const std::lock_guard<std::mutex> lock(folderMutex_);
        return folder.empty() || madeFolders_.count(folder) != 0;
    }

    // Creates folder and its parents once per run, through group, so that they last as its files
    // do. The lock holds back a worker whose record goes there until the folder's name is on the
    // disk. Raises RecordFailure naming the folder that could not be made, with the system's reason.
    void makeFolder(const fs::path &folder, GroupWriter &group)
    {
        if (folder.empty())
            return;
        const std::lock_guard<std::mutex> lock(folderMutex_);
        if (madeFolders_.count(folder) != 0)
            return;
        fs::path failed = folder;
        if (const std::error_code error = group.makeFolders(folder, &failed)) {
            std::string reason = said(Reason(Said::CannotCreateFolder, {shownPath(failed), Reason(error)}));
            // Without the output folder itself no record can be written: said once, not once a record.
            const fs::path &output = options.outputFolder ? *options.outputFolder : fs::path();
            if (!output.empty() &&
                std::mismatch(failed.begin(), failed.end(), output.begin(), output.end()).first ==
                    failed.end()) {
                unmadeOutputFolder_ = reason;
            }
            throw RecordFailure(reason, error);
        }
        // The last folders only: the walk leaves a folder for good, and one made again is found.
        madeFolders_.insert(folder);
        madeOrder_.push_back(folder);
        if (madeOrder_.size() > 64) {
            madeFolders_.erase(madeOrder_.front());
            madeOrder_.pop_front();
        }
    }

    // Returns the result of a record that failed with reason. Once one has failed because the
    // medium is full, or the output folder could not be made, no record is written any more:
    // trying each would only fail the same way.
    ItemResult failed(std::string reason, std::error_code error)
    {
        const std::lock_guard<std::mutex> lock(folderMutex_);
        std::optional<Said> cause;
        if (isMediumFull(error))
            cause = Said::DiskFull;
        else if (!reason.empty() && reason == unmadeOutputFolder_)
            cause = Said::NoOutputFolder;
        if (!cause)
            return {ItemOutcome::Failed, std::move(reason)};
        if (!stopped)
            stopCause_ = said(*cause);
        stopped = true;
        return {ItemOutcome::NotWritten, std::move(reason)};
    }

    // Why no record is written any more, once stopped.
    // The reason the output folder could not be made, which is every record's once it is: the
    // first record in order is named with it, whichever worker met it first. Empty otherwise.
    std::string unmadeOutputFolder()
    {
        const std::lock_guard<std::mutex> lock(folderMutex_);
        return unmadeOutputFolder_;
    }

    std::string stopCause()
    {
        const std::lock_guard<std::mutex> lock(folderMutex_);
        return stopCause_;
    }

    const BatchOptions &options;
    FileSystem &system;
    GroupLimits groupLimits;
    LeftoverTemporaries leftovers;
    std::atomic<bool> stopped{false}; // no record is written any more

private:
    std::string unmadeOutputFolder_; // the reason the output folder could not be made
    std::string stopCause_;

    std::mutex folderMutex_;
    std::set<fs::path> madeFolders_;
    std::deque<fs::path> madeOrder_; // the folders of madeFolders_, the oldest first
};

// A worker of a batch: reads each record through a buffer of its own and writes it into its
// group, whose records are reported once the group is committed.
class ConvertingWorker : public ItemWorker {
public:
    explicit ConvertingWorker(Conversions &shared)
        : shared_(shared), group_(shared.leftovers, shared.groupLimits)
    {
    }

    ItemResult process(std::size_t index, const BatchItem &item) override
    {
        if (item.failure.said() == Said::AlsoTheOutputOf)
            return {ItemOutcome::SharedOutput, said(Reason(Said::ConvertAlone, {item.failure}))};
        if (!item.failure.empty())
            return {ItemOutcome::Failed, said(item.failure)};
        const BatchOptions &options = shared_.options;
        FileInfo target;
        if (item.targetState != TargetState::Absent &&
            !shared_.system.look(nullptr, systemPath(item.target).c_str(), true, target) &&
            target.type == fs::file_type::directory)
            return {ItemOutcome::Failed, folderReason(shownPath(item.target))};
        // Without --force an existing target is kept: the listing of its folder tells, and the
        // writer's rename refuses one that appeared since; a target the listing did not show is
        // not looked at again. With --force the writer looks, to keep a replaced file's mode. With
        // --update a target older than its source is replaced.
        FileInfo source;
        const bool update = !options.force && options.update && item.targetState == TargetState::Present &&
                            target.type != fs::file_type::none &&
                            !shared_.system.look(nullptr, systemPath(item.source).c_str(), true, source) &&
                            source.modified > target.modified;
        if (!options.force && !update && item.targetState == TargetState::Present) {
            // What a killed run left beside it goes all the same, or it would stay for good.
            shared_.leftovers.removeFor(shared_.system, systemPath(item.target));
            return skipped(item.target);
        }
        if (shared_.stopped)
            return {ItemOutcome::NotWritten, shared_.unmadeOutputFolder()};
        const ExistingTarget existing =
            options.force || update ? ExistingTarget::Replace : ExistingTarget::Keep;
        const TargetLook look = !options.force && item.targetState == TargetState::Absent
                                    ? TargetLook::KnownAbsent
                                    : TargetLook::Look;
        Modified modified;
        RecordOutcome outcome = writeRecord(
            item.target, options.conversion,
            [&] {
                std::chrono::system_clock::time_point written;
                const std::string_view bytes =
                    readFileInto(shared_.system, systemPath(item.source), buffer_, &written);
                if (options.keepTimes)
                    modified = written;
                return bytes;
            },
            [&](const RecordProducer &produce) {
                // The folders of the output are made once the record has converted into something
                // to write, which is kept until then, so that a record that fails, or is held back,
                // makes none. Once made (or found) in this run, a folder is written into at once.
                const auto thenFolder = [&](RecordSink &sink) {
                    const fs::path folder = item.target.parent_path();
                    if (shared_.madeBefore(folder)) {
                        produce(sink);
                        return;
                    }
                    StringSink record;
                    produce(record);
                    if (record.bytes.empty())
                        return;
                    shared_.makeFolder(folder, group_);
                    sink.write(record.bytes);
                };
                group_.add(index, systemPath(item.target), thenFolder, existing, look, modified);
            });
        switch (outcome.end) {
        case RecordOutcome::End::Written:
            held_.push_back({index, joined(outcome.warnings), update});
            return {};
        case RecordOutcome::End::HeldBack:
            return {ItemOutcome::Failed, joined(outcome.warnings)};
        case RecordOutcome::End::TargetExists:
            return skipped(item.target);
        case RecordOutcome::End::Failed:
            break;
        }
        return shared_.failed(std::move(outcome.reason), outcome.error);
    }

    bool full() const override { return group_.full(); }

    // Commits the group: its records are in place, or fail with the reason.
    std::vector<std::pair<std::size_t, ItemResult>> finish(const TakenItem &taken) override
    {
        std::vector<std::pair<std::size_t, ItemResult>> results;
        if (group_.empty())
            return results;
        try {
            // The group commits its files in the order they were added.
            std::size_t next = 0;
            for (GroupWriter::Result &written : group_.commit()) {
                while (next < held_.size() && held_[next].index != written.id)
                    ++next;
                if (written.targetExists)
                    results.emplace_back(written.id, skipped(taken(written.id).target));
                else if (written.reason.empty())
                    results.emplace_back(
                        written.id,
                        next < held_.size()
                            ? ItemResult{held_[next].update ? ItemOutcome::Updated : ItemOutcome::Converted,
                                         std::move(held_[next].warnings)}
                            : ItemResult{ItemOutcome::Converted, {}});
                else
                    results.emplace_back(
                        written.id, shared_.failed(said(cannotWriteReason(shownPath(taken(written.id).target),
                                                                          written.reason)),
                                                   written.error));
            }
        } catch (const std::bad_alloc &error) {
            group_.discard();
            results.clear();
            for (const auto &held : held_)
                results.emplace_back(held.index, ItemResult{ItemOutcome::Failed, failureReason(error)});
        }
        held_.clear();
        return results;
    }

private:
    Conversions &shared_;
    GroupWriter group_;
    ReadBuffer buffer_;
    // The records in the group and their warnings, in the order they were added; their targets
    // stay in the run's ring until they are reported.
    struct Held {
        std::size_t index;
        std::string warnings;
        bool update; // it replaces an output older than its source
    };
    std::vector<Held> held_;
};

// Returns "source: line" for each line of message, with control characters escaped: a line may
// quote the record.
std::string messageLines(const fs::path &source, const std::string &message)
{
    std::string lines;
    for (std::size_t start = 0; start <= message.size();) {
        const std::size_t end = std::min(message.find('\n', start), message.size());
        lines +=
            shownPath(source) + ": " + shownText(std::string_view(message).substr(start, end - start)) + "\n";
        start = end + 1;
    }
    return lines;
}

// The report of a batch: counts the outcomes and tells status what it says of them.
class StatusReport : public RunReport {
public:
    StatusReport(const BatchOptions &options, std::size_t total, BatchStatus &status)
        : quiet_(options.quiet), verbose_(options.verbose), total_(total), status_(status)
    {
    }

    void take(const BatchItem &item, const ItemResult &result) override
    {
        // Every failure is told but those of a full medium, which are told once at the end;
        // warnings unless quiet, and skips one by one only when verbose.
        bool told = true;
        switch (result.outcome) {
        case ItemOutcome::Converted:
        case ItemOutcome::Updated:
            ++(result.outcome == ItemOutcome::Updated ? summary.updated : summary.converted);
            summary.withWarnings += result.message.empty() ? 0 : 1;
            told = !result.message.empty() && !quiet_;
            break;
        case ItemOutcome::Failed:
            ++summary.failed;
            break;
        case ItemOutcome::SharedOutput:
            ++summary.failed;
            ++summary.sharedOutput;
            told = verbose_ && !quiet_;
            break;
        case ItemOutcome::NotWritten:
            ++summary.notWritten;
            told = false;
            if (firstUnwritten_.second.empty())
                firstUnwritten_ = {item.source, result.message};
            break;
        case ItemOutcome::Skipped:
            ++summary.skipped;
            told = verbose_ && !quiet_;
            break;
        case ItemOutcome::Pending:
            told = false; // never filed as a result
            break;
        }
        if (told)
            status_.message(messageLines(item.source, result.message));
    }

    void progress(std::size_t done, const BatchItem *current) override
    {
        status_.progress(done, total_, current ? current->source : fs::path());
    }

    bool closed() const override { return status_.closed(); }
    void restNotLookedAt() override { summary.restNotLookedAt = true; }

    // Tells status what is said of the run as a whole: how many records were skipped, and the full
    // medium once, with the first record it failed and how many it left unwritten.
    void end(const std::string &stopCause)
    {
        summary.notWrittenCause = stopCause;
        // Records whose output is another's are failures, counted in one line (-v names each).
        if (summary.sharedOutput != 0) {
            status_.message(
                said(Reason(summary.sharedOutput == 1 ? Said::OneSharesOutput : Said::SomeShareOutputs,
                            {std::to_string(summary.sharedOutput)})) +
                "\n");
        }
        if (summary.skipped != 0 && !quiet_) {
            status_.message(said(Reason(summary.skipped == 1 ? Said::OneSkipped : Said::SomeSkipped,
                                        {std::to_string(summary.skipped)})) +
                            "\n");
        }
        if (summary.notWritten != 0) {
            status_.message(messageLines(
                firstUnwritten_.first,
                said(Reason(summary.notWritten == 1 ? Said::StoppedOneNotWritten : Said::StoppedNotWritten,
                            {firstUnwritten_.second, std::to_string(summary.notWritten)}))));
        }
    }

    BatchSummary summary;

private:
    bool quiet_;
    bool verbose_;
    std::size_t total_;
    BatchStatus &status_;
    // The source and the reason of the first record that the full medium failed.
    std::pair<fs::path, std::string> firstUnwritten_;
};

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
    std::optional<std::size_t> left() const override { return items_.size() - next_; }

private:
    const std::vector<BatchItem> &items_;
    std::size_t next_ = 0;
};

} // namespace

BatchSummary runBatch(BatchItems &items, std::size_t total, const BatchOptions &options, BatchStatus &status)
{
    Conversions shared(options);
    StatusReport report(options, total, status);
    RunOptions run;
    run.workers = workerCount(options, total);
    run.progress = options.progress && !options.quiet;
    run.interrupted = options.interrupted;
    report.summary.notStarted = runInOrder(
        items, run, [&shared] { return std::make_unique<ConvertingWorker>(shared); }, report);
    report.end(shared.stopCause());
    return report.summary;
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
    const auto number = [](std::size_t n) { return Reason(std::to_string(n)); };
    std::string line = said(Reason(Said::SummaryConverted, {number(summary.converted)}));
    if (summary.withWarnings != 0)
        line += said(Reason(Said::SummaryWithWarnings, {number(summary.withWarnings)}));
    if (summary.updated != 0)
        line += said(Reason(Said::SummaryUpdated, {number(summary.updated)}));
    line += said(Reason(Said::SummaryFailedSkipped, {number(summary.failed), number(summary.skipped)}));
    if (summary.notWritten != 0)
        line += said(Reason(Said::SummaryNotWritten, {number(summary.notWritten), summary.notWrittenCause}));
    if (summary.notStarted != 0 || summary.restNotLookedAt)
        line += said(Reason(Said::SummaryInterrupted, {number(summary.notStarted)}));
    if (summary.restNotLookedAt)
        line += said(Said::SummaryRestNotLookedAt);
    return line;
}

} // namespace quillarn
