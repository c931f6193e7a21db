// Throughput of the conversion core: a typical record, and records whose data section grows from
// 1 to 10 MB (the time per byte must stay flat), each step alone so that a slow one shows.
#include "records.h"

#include "board.h"
#include "codepage.h"
#include "convert.h"
#include "game.h"
#include "referencetranslator.h"
#include "utf8codec.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using namespace quillarn;

constexpr std::size_t typicalMoves = 300;

// The whole conversion of one record, from source bytes to record file bytes.
void convert(benchmark::State &state, const std::string &source, RecordEncoding encoding)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(recordFileBytes(translateRecord(decodeAnsi(source)), encoding));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}

void typicalRecord(benchmark::State &state)
{
    convert(state, benchdata::makeRecord(typicalMoves), RecordEncoding::Ansi);
}
BENCHMARK(typicalRecord);

void typicalRecordUtf8(benchmark::State &state)
{
    convert(state, benchdata::makeRecord(typicalMoves), RecordEncoding::Utf8);
}
BENCHMARK(typicalRecordUtf8);

// The moves of a game of 300 legal moves on a 19 board, found by trying random points: a record
// whose replay runs to its end, as a real game's does.
const std::vector<std::pair<char, char>> &legalGame()
{
    static const std::vector<std::pair<char, char>> moves = [] {
        std::vector<std::pair<char, char>> game;
        Board board(19);
        std::mt19937 random(300);
        for (Stone colour = Stone::Black; game.size() < typicalMoves; colour = opponent(colour)) {
            for (;;) {
                const int x = static_cast<int>(random() % 19);
                const int y = static_cast<int>(random() % 19);
                if (board.play(colour, x, y) == MoveVerdict::Legal) {
                    game.emplace_back(static_cast<char>('a' + x), static_cast<char>('a' + y));
                    break;
                }
            }
        }
        return game;
    }();
    return moves;
}

// The replay of that game alone (GameCheck), the cost the check adds to each record.
void replayTypicalGame(benchmark::State &state)
{
    for (auto _ : state) {
        GameCheck game(u"19", u"0");
        char16_t colour = u'B';
        for (const auto &[x, y] : legalGame()) {
            const char16_t point[2] = {static_cast<char16_t>(x), static_cast<char16_t>(y)};
            game.move(colour, std::u16string_view(point, 2));
            colour = colour == u'B' ? u'W' : u'B';
        }
        benchmark::DoNotOptimize(game.finish());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * legalGame().size()));
}
BENCHMARK(replayTypicalGame);

// The whole conversion of that game's record, replay included.
void convertTypicalGame(benchmark::State &state)
{
    std::string source = benchdata::recordHeader(1);
    std::size_t number = 0;
    for (const auto &[x, y] : legalGame()) {
        ++number;
        source += {static_cast<char>(x - 'a' + 'A'), static_cast<char>(y - 'a' + 'A')};
        source += (number % 2 == 1 ? ",B" : ",W") + std::to_string(number) + ",0,0\r\n";
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(convertSource(source, {}));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}
BENCHMARK(convertTypicalGame);

// Argument: the size of the data section in MB.
void dataSection(benchmark::State &state)
{
    convert(state, benchdata::makeRecordWithData(static_cast<std::size_t>(state.range(0)) << 20),
            RecordEncoding::Ansi);
}
BENCHMARK(dataSection)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(10)->Unit(benchmark::kMillisecond);

// The steps of the 10 MB conversion one at a time.
const std::string &largeSource()
{
    static const std::string source = benchdata::makeRecordWithData(10 << 20);
    return source;
}

void decodeLarge(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeAnsi(largeSource()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * largeSource().size()));
}
BENCHMARK(decodeLarge)->Unit(benchmark::kMillisecond);

// The 10 MB record saved again in UTF-8, and 10 MB of Japanese text in UTF-8 (three bytes to a
// character), read as a source is: told from code page 932 and decoded in one pass.
void decodeLargeUtf8(benchmark::State &state)
{
    static const std::string source = encodeUtf8(decodeAnsi(largeSource()));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeSource(source));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}
BENCHMARK(decodeLargeUtf8)->Unit(benchmark::kMillisecond);

void decodeJapaneseUtf8(benchmark::State &state)
{
    static const std::string source = [] {
        const std::string line = encodeUtf8(u"黒田一郎と白石花子の対局。コメント\r\n");
        std::string text;
        while (text.size() < (10u << 20))
            text += line;
        return text;
    }();
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeSource(source));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}
BENCHMARK(decodeJapaneseUtf8)->Unit(benchmark::kMillisecond);

void translateLarge(benchmark::State &state)
{
    const std::u16string text = decodeAnsi(largeSource());
    for (auto _ : state)
        benchmark::DoNotOptimize(translateRecord(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * largeSource().size()));
}
BENCHMARK(translateLarge)->Unit(benchmark::kMillisecond);

void encodeLarge(benchmark::State &state)
{
    const std::u16string record = translateRecord(decodeAnsi(largeSource()));
    for (auto _ : state)
        benchmark::DoNotOptimize(recordFileBytes(record));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * largeSource().size()));
}
BENCHMARK(encodeLarge)->Unit(benchmark::kMillisecond);

} // namespace
