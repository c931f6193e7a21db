// The batch path: planning a folder of records, and converting it with and without worker
// threads and with each way of flushing. Every converted file is written and flushed to disk, so
// the figures depend on the disk as much as on the program.
#include "records.h"

#include "batch.h"
#include "batchplan.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace quillarn;

constexpr unsigned batchRecords = 1000;
constexpr std::size_t typicalMoves = 250;

// A folder of records under the system's temporary folder, removed at the end.
class RecordFolder {
public:
    RecordFolder()
    {
        std::random_device random;
        root_ = fs::temp_directory_path() / ("quillarn-bench-" + std::to_string(random()));
        for (unsigned n = 0; n < batchRecords; ++n) {
            const fs::path folder = root_ / "in" / ("year-" + std::to_string(1990 + n % 10));
            fs::create_directories(folder);
            std::ofstream out(folder / ("game-" + std::to_string(n) + ".ugi"), std::ios::binary);
            out << benchdata::makeRecord(typicalMoves, n);
        }
    }
    ~RecordFolder()
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    RecordFolder(const RecordFolder &) = delete;
    RecordFolder &operator=(const RecordFolder &) = delete;
    fs::path in() const { return root_ / "in"; }
    fs::path out() const { return root_ / "out"; }

private:
    fs::path root_;
};

void planFolder(benchmark::State &state)
{
    const RecordFolder folder;
    for (auto _ : state)
        benchmark::DoNotOptimize(planBatch({folder.in()}, folder.out()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batchRecords));
}
BENCHMARK(planFolder)->Unit(benchmark::kMicrosecond);

// Arguments: the number of workers (1: the calling thread alone; 8: what ugi2sgf takes for many),
// and how the records reach the disk: 0 as ugi2sgf writes them (groups, one syncfs each); 1 the
// same with write-back started for each file as it is written (sync_file_range); 2 groups of 64
// with one fsync per file; 3 one record at a time, flushed with fsync before its rename; 4 and 5
// as 0 with groups of 32 and of 1024 records.
void convertFolder(benchmark::State &state)
{
    const RecordFolder folder;
    const std::vector<BatchItem> items = planBatch({folder.in()}, folder.out());
    BatchOptions options;
    options.force = true;
    options.workers = static_cast<int>(state.range(0));
    switch (state.range(1)) {
    case 1:
        options.groupLimits.startWriteBack = true;
        break;
    case 2:
        options.groupLimits.method = FlushMethod::EachFile;
        options.groupLimits.startWriteBack = true;
        options.groupLimits.files = 64;
        break;
    case 3:
        options.groupLimits.method = FlushMethod::EachFile;
        options.groupLimits.files = 1;
        break;
    case 4:
        options.groupLimits.files = 32;
        break;
    case 5:
        options.groupLimits.files = 1024;
        break;
    default:
        break;
    }
    std::ostringstream messages;
    for (auto _ : state) {
        const BatchSummary summary = runBatch(items, options, messages);
        if (summary.converted != items.size())
            state.SkipWithError("a record of the batch did not convert");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * items.size()));
}
BENCHMARK(convertFolder)
    ->ArgsProduct({{1, 8}, {0, 1, 2, 3, 4, 5}})
    ->ArgNames({"workers", "flush"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
