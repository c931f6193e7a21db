// Generated sources, many of them near misses, held to what "nothing lost" means: a record that is
// produced keeps every move line and header value of its source and reads back from its file, and a
// source that fails leaves no file behind.
#include "../support/process.h"
#include "../support/recordcheck.h"
#include "../support/testfiles.h"
#include "records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

// A source in code page 932 from a fixed generator: the nine keys in any order, now and then one
// missing or broken; values of characters that test escaping and the code page ("]", "\", and ソ
// and 十, whose second byte is "\"); line ends that are now and then a lone LF or CR; data lines
// with blank lines, lines without a comma, later sections and a last line without its line end.
class SourceGenerator {
public:
    explicit SourceGenerator(std::uint32_t seed) : random_(seed) {}

    std::string next()
    {
        std::vector<std::string> keys = {
            "Title=", "Copyright=", "Winner=", "PlayerB=", "PlayerW=", "Place=", "Date=", "Size=", "Hdcp="};
        std::shuffle(keys.begin(), keys.end(), random_);
        std::string source = chance(10) ? text() + lineEnd() : "";
        source += "[Header]" + lineEnd();
        for (const std::string &key : keys) {
            if (chance(2))
                continue;
            std::string value = text();
            if (key == "PlayerB=" || key == "PlayerW=")
                value += (chance(97) ? "," : "") + text() + (chance(97) ? "," : "") + text();
            else if (key == "Date=" || key == "Hdcp=" || key == "Winner=")
                value += (chance(97) ? "," : "") + text();
            source += key + value + lineEnd();
        }
        if (chance(90)) {
            source += "[Data]" + lineEnd();
            const int lines = static_cast<int>(random_() % 12);
            for (int i = 0; i < lines; ++i) {
                source += dataLine();
                if (i + 1 < lines || chance(80))
                    source += lineEnd();
            }
        }
        return source;
    }

private:
    bool chance(int percent) { return static_cast<int>(random_() % 100) < percent; }

    template <typename List> const std::string &pick(const List &list)
    {
        return list[random_() % list.size()];
    }

    std::string lineEnd()
    {
        static const std::vector<std::string> lone = {"\n", "\r"};
        return chance(2) ? pick(lone) : "\r\n";
    }

    std::string text()
    {
        static const std::vector<std::string> pieces = {
            "a", "Kuro", "3d",  "/", "]",        "\\",       " ",        "[",        "=",    "C",
            "B", "W",    "6.5", "0", "\x83\x5c", "\x8f\x5c", "\x8d\x95", "\x87\x40", "\xb1",
        };
        std::string value;
        for (int n = static_cast<int>(random_() % 4); n > 0; --n)
            value += pick(pieces);
        return value;
    }

    std::string dataLine()
    {
        static const std::vector<std::string> coordinates = {"QD", "dp", "YS",  "ys",
                                                             "tt", "a]", "\\x", "\x83\x5c"};
        static const std::vector<std::string> colours = {"B", "W"};
        static const std::vector<std::string> wrong = {"b", "1", ""};
        static const std::vector<std::string> others = {"", "no comma", "[Figure]", "x[y],B"};
        static const std::vector<std::string> broken = {",B", "D,W"};
        if (chance(85))
            return pick(coordinates) + "," + (chance(98) ? pick(colours) : pick(wrong)) +
                   std::to_string(random_() % 300) + ",0";
        return chance(90) ? pick(others) : pick(broken);
    }

    std::mt19937 random_;
};

} // namespace

TEST(NothingLost, EveryProducedRecordKeepsEachMoveLineAndHeaderValue)
{
    SourceGenerator generator(20261207);
    int produced = 0;
    int failed = 0;
    for (int n = 0; n < 4000; ++n) {
        const std::string bytes = generator.next();
        const std::u16string source = quillarn::decodeAnsi(bytes);
        std::u16string record;
        try {
            record = quillarn::translateRecord(source);
        } catch (const quillarn::CommandFailure &) {
            ++failed;
            continue;
        }
        ++produced;
        ASSERT_EQ(recordLossProblem(source, record), "") << testing::PrintToString(bytes);
        ASSERT_EQ(recordFileProblem(record, quillarn::recordFileBytes(record)), "")
            << testing::PrintToString(bytes);
    }
    // Both outcomes must be common, or the invariant is held to too little.
    EXPECT_GT(produced, 1000);
    EXPECT_GT(failed, 1000);
}

TEST(NothingLost, ASourceThatFailsLeavesNoFileAndOneThatConvertsIsWrittenWhole)
{
    ScratchDir dir;
    SourceGenerator generator(7);
    std::vector<std::string> sources;
    for (int n = 0; n < 200; ++n) {
        sources.push_back(generator.next());
        std::filesystem::create_directories(dir / "in");
        writeBytes(dir / "in" / ("g" + std::to_string(n) + ".ugi"), sources.back());
    }
    const Outcome batch =
        run(UGI2SGF, {"--encoding", "cp932", "-q", "-d", (dir / "out").string(), (dir / "in").string()});
    EXPECT_EQ(batch.status, 1);
    std::size_t written = 0;
    for (std::size_t n = 0; n < sources.size(); ++n) {
        const auto target = dir / "out" / ("g" + std::to_string(n) + ".sgf");
        const Conversion library = convertWithLibrary(dir / "in" / ("g" + std::to_string(n) + ".ugi"));
        if (library.reason.empty()) {
            EXPECT_EQ(readBytes(target), library.bytes) << n;
            ++written;
        } else {
            EXPECT_FALSE(std::filesystem::exists(target)) << n << ": " << library.reason;
        }
    }
    // Nothing else: no temporary file, no file for a record that failed.
    std::size_t files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir / "out"))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, written);
    EXPECT_GT(written, 50u);
}
