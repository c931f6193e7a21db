// The ordered runner of a batch on its own, without a plan or a writer: items that are only names,
// workers that hold their results back in groups as the batch's writers do, and a report that
// counts what it is given. However a run ends, it ends, every item is counted once, and every item
// begun is finished and reported.
#include "batchrunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Items named 1, 2, ...; the one numbered interruptAt is handed out after a call of interrupt.
class NumberedItems : public quillarn::BatchItems {
public:
    // A walk does not know how many items are left; a list does.
    NumberedItems(std::size_t count, std::size_t interruptAt, void (*interrupt)(), bool walk = false)
        : count_(count), interruptAt_(interruptAt), interrupt_(interrupt), walk_(walk)
    {
    }
    bool next(quillarn::BatchItem &item) override
    {
        if (given_ == count_)
            return false;
        if (++given_ == interruptAt_)
            interrupt_();
        item = {fs::path(std::to_string(given_)), {}, {}};
        return true;
    }
    std::optional<std::size_t> left() const override
    {
        return walk_ ? std::nullopt : std::optional<std::size_t>(count_ - given_);
    }
    std::size_t given() const { return given_; }

private:
    std::size_t count_, interruptAt_, given_ = 0;
    void (*interrupt_)();
    bool walk_;
};

// What the workers of a run did, counted across their threads.
struct WorkerCounts {
    std::atomic<std::size_t> processed{0};
    std::atomic<std::size_t> finished{0};
    std::atomic<int> alive{0};
};

// A worker that holds the results of its items back in groups, as a group of records is put in
// place together, and fails each one when it finishes it. An item takes it some microseconds, as a
// record would, so that the items are taken faster than they are processed and a run that stops
// finds the workers holding some.
class GroupingWorker : public quillarn::ItemWorker {
public:
    explicit GroupingWorker(WorkerCounts &counts) : counts_(counts) { ++counts_.alive; }
    ~GroupingWorker() override { --counts_.alive; }
    quillarn::ItemResult process(std::size_t index, const quillarn::BatchItem &) override
    {
        ++counts_.processed;
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::microseconds(20))
            std::this_thread::yield();
        held_.push_back(index);
        return {};
    }
    bool full() const override { return held_.size() == 50; }
    std::vector<std::pair<std::size_t, quillarn::ItemResult>> finish(const quillarn::TakenItem &) override
    {
        std::vector<std::pair<std::size_t, quillarn::ItemResult>> results;
        for (const std::size_t index : held_)
            results.emplace_back(index, quillarn::ItemResult{quillarn::ItemOutcome::Failed, "unreadable"});
        counts_.finished += held_.size();
        held_.clear();
        return results;
    }

private:
    WorkerCounts &counts_;
    std::vector<std::size_t> held_;
};

// A report that counts the results and holds them to the order of the items; it is closed after
// closeAfter of them, or raises at the first one.
class CountingReport : public quillarn::RunReport {
public:
    std::size_t closeAfter = SIZE_MAX;
    bool raises = false;
    std::size_t taken = 0;
    void take(const quillarn::BatchItem &item, const quillarn::ItemResult &result) override
    {
        if (raises)
            throw std::runtime_error("the results cannot be reported");
        const unsigned long number = std::stoul(item.source.string());
        EXPECT_GT(number, last_);
        EXPECT_EQ(result.message, "unreadable");
        last_ = number;
        ++taken;
    }
    void progress(std::size_t, const quillarn::BatchItem *) override {}
    bool closed() const override { return taken >= closeAfter; }
    void restNotLookedAt() override { restUnlooked = true; }
    bool restUnlooked = false;

private:
    unsigned long last_ = 0;
};

// Returns what body returns when it ends within a minute. A body that hangs ends the test program,
// since its thread cannot be stopped.
template <typename Body> auto endsWithinAMinute(Body body) -> decltype(body())
{
    auto result = std::make_shared<std::promise<decltype(body())>>();
    std::future<decltype(body())> ended = result->get_future();
    std::thread([body, result] {
        try {
            result->set_value(body());
        } catch (...) {
            result->set_exception(std::current_exception());
        }
    }).detach();
    if (ended.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
        ADD_FAILURE() << "the run did not end";
        std::abort();
    }
    return ended.get();
}

// The interruption of a run, as ugi2sgf's signal handler sets it.
std::atomic<int> interruptedBy{0};

extern "C" void noteSignal(int signal)
{
    interruptedBy.store(signal);
}

} // namespace

// More items than the ring holds: the run ends with every item counted once when it is
// interrupted in the second ring on the calling thread alone, when a signal interrupts it, when
// nobody reads its results any more, and when reporting them raises (the threads end before the
// error goes on). Every item a worker began is finished, and reported unless the report raised.
TEST(BatchRunner, ARunEndsAfterAnInterruptionInAnyRingASignalAClosedReportOrARaisingOne)
{
    struct Row {
        const char *name;
        std::size_t workers;
        std::size_t interruptAt;
        void (*interrupt)();
        std::size_t closeAfter;
        bool raises;
        bool walk = false; // the items do not know how many are left: the run does not look for them
    };
    const auto setFlag = [] { interruptedBy = SIGINT; };
    const auto raiseSignal = [] { std::raise(SIGINT); };
    const auto nothing = [] {};
    constexpr std::size_t items = 6000;
    for (const Row row :
         {Row{"calling thread, interrupted at 5000", 0, 5000, setFlag, SIZE_MAX, false},
          Row{"SIGINT at 3000", 4, 3000, raiseSignal, SIZE_MAX, false},
          Row{"closed after 1", 4, 0, nothing, 1, false}, Row{"raising", 4, 0, nothing, SIZE_MAX, true},
          Row{"a walk, SIGINT at 3000", 4, 3000, raiseSignal, SIZE_MAX, false, true}}) {
        SCOPED_TRACE(row.name);
        interruptedBy = 0;
        const auto previous = std::signal(SIGINT, noteSignal);
        quillarn::RunOptions options;
        options.workers = row.workers;
        options.interrupted = &interruptedBy;
        WorkerCounts counts;
        CountingReport report;
        report.closeAfter = row.closeAfter;
        report.raises = row.raises;
        NumberedItems numbered(items, row.interruptAt, row.interrupt, row.walk);
        const auto run = [&options, &counts, &report, &numbered] {
            return quillarn::runInOrder(
                numbered, options, [&counts] { return std::make_unique<GroupingWorker>(counts); }, report);
        };
        if (row.raises) {
            EXPECT_THROW(endsWithinAMinute(run), std::runtime_error);
        } else {
            const std::size_t notStarted = endsWithinAMinute(run);
            // A walk is not gone on with to count what is left: the run ends at once.
            EXPECT_EQ(report.restUnlooked, row.walk);
            if (row.walk)
                EXPECT_LT(numbered.given(), items);
            else
                EXPECT_EQ(report.taken + notStarted, items);
            if (row.workers == 0) {
                // The first ring reported, the part of the second taken and the rest of the items
                // not started.
                EXPECT_EQ(report.taken, quillarn::runRingSize);
                EXPECT_EQ(notStarted, items - quillarn::runRingSize);
            } else {
                EXPECT_GT(notStarted, 0u);
                EXPECT_LE(report.taken, row.interruptAt == 0 ? items : row.interruptAt - 1);
            }
            EXPECT_EQ(counts.processed.load(), report.taken);
        }
        EXPECT_EQ(counts.finished.load(), counts.processed.load());
        EXPECT_EQ(counts.alive.load(), 0);
        std::signal(SIGINT, previous);
    }
}
