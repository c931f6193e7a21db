// Generated sources, many of them near misses, held to what "nothing lost" means: a record that is
// produced keeps every move line and header value of its source and reads back from its file, and a
// source that fails leaves no file behind.
#include "../support/process.h"
#include "../support/recordcheck.h"
#include "../support/reference.h"
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

    // Returns a well-formed record as a Japanese club or archive keeps them, in code page 932: titles,
    // names, ranks and places of kanji (the JIS levels, now and then an IBM extension), hiragana,
    // katakana, half-width katakana, full-width digits and symbols; moves; now and then a comment
    // section of such text. Every one holds at least one kanji.
    std::string japaneseRecord()
    {
        std::string source = "[Header]\r\nTitle=\x91\xe6" + japanese(Digits, 1, 2) + "\x8a\xfa" +
                             japanese(Kanji, 2, 4) + japaneseText() + "\r\n";
        source += "Copyright=" + japaneseText() + "\r\n";
        static const std::vector<std::string> winners = {"B,C", "W,C", "W,6.5", "B,0.5", "B,3.5"};
        source += "Winner=" + pick(winners) + "\r\n";
        source += "PlayerB=" + name() + "," + rank() + ",\r\n";
        source += "PlayerW=" + name() + "," + rank() + ",\r\n";
        source += "Place=" + japanese(Kanji, 2, 3) + japaneseText() + "\r\n";
        source += "Date=" + std::to_string(1980 + random_() % 45) + "/" + std::to_string(1 + random_() % 12) +
                  "/" + std::to_string(1 + random_() % 28) + ",13:00\r\nSize=19\r\nHdcp=0,6.5\r\n[Data]\r\n";
        for (int move = 1 + static_cast<int>(random_() % 40); move > 0; --move) {
            source += static_cast<char>('A' + random_() % 19);
            source += static_cast<char>('A' + random_() % 19);
            source += (move % 2 ? ",B" : ",W") + std::to_string(move) + ",0\r\n";
        }
        if (chance(30)) {
            source += "[Comment]\r\n";
            for (int line = 1 + static_cast<int>(random_() % 4); line > 0; --line)
                source += japaneseText() + japaneseText() + "\r\n";
        }
        return source;
    }

private:
    enum Kind { Kanji, Hiragana, Katakana, HalfWidth, Digits, Symbols, Rare, Ascii };

    // Every code of a kind, found by decoding every code of its rows.
    static const std::vector<std::string> &codes(Kind kind)
    {
        static const std::vector<std::vector<std::string>> all = [] {
            std::vector<std::vector<std::string>> found(Ascii + 1);
            const auto add = [&](Kind k, unsigned first, unsigned last) {
                for (unsigned code = first; code <= last; ++code) {
                    std::string bytes =
                        code > 0xFF ? std::string{static_cast<char>(code >> 8), static_cast<char>(code)}
                                    : std::string(1, static_cast<char>(code));
                    const std::u16string text = quillarn::decodeAnsi(bytes);
                    if (text.size() == 1 && (text[0] < 0xDC80 || text[0] > 0xDCFF) &&
                        (k != Kanji || (text[0] >= 0x4E00 && text[0] <= 0x9FFF)))
                        found[k].push_back(bytes);
                }
            };
            add(Kanji, 0x889F, 0x9FFC);
            add(Kanji, 0xE040, 0xEAA4);
            add(Hiragana, 0x829F, 0x82F1);
            add(Katakana, 0x8340, 0x8396);
            add(HalfWidth, 0xA1, 0xDF);
            add(Digits, 0x824F, 0x8258);
            add(Symbols, 0x8140, 0x81AC);
            add(Rare, 0x8740, 0x879C); // NEC row 13: ①, Ⅰ, ㈱
            add(Rare, 0xFA40, 0xFC4B); // IBM extensions: 髙, 﨑
            for (char c = ' '; c <= '~'; ++c) {
                if (c != ',' && c != '[')
                    found[Ascii].push_back(std::string(1, c));
            }
            return found;
        }();
        return all[kind];
    }

    std::string japanese(Kind kind, int least, int most)
    {
        std::string text;
        for (int n = least + static_cast<int>(random_() % static_cast<unsigned>(most - least + 1)); n > 0;
             --n)
            text += pick(codes(kind));
        return text;
    }

    // Words of mixed kinds, kanji the most common, as titles, places and comments have them.
    std::string japaneseText()
    {
        static const Kind kinds[] = {Kanji,    Kanji,     Kanji,     Kanji,  Hiragana, Hiragana, Katakana,
                                     Katakana, HalfWidth, HalfWidth, Digits, Symbols,  Rare,     Ascii};
        std::string text;
        for (int word = static_cast<int>(random_() % 4); word > 0; --word)
            text += japanese(kinds[random_() % std::size(kinds)], 1, 5);
        return text;
    }

    std::string name()
    {
        static const Kind given[] = {Kanji, Kanji, Hiragana, Katakana, HalfWidth};
        const Kind kind = given[random_() % std::size(given)];
        return japanese(Kanji, 1, 3) + (chance(30) ? "\x81\x40" : "") +
               japanese(kind, 1, kind == Kanji ? 2 : 5);
    }

    std::string rank()
    {
        static const std::vector<std::string> ranks = {
            "\x8b\xe3\x92\x69",         "\x8f\x89\x92\x69", "5d", "3k",
            "\xb1\xcf\x8c\xdc\x92\x69", "\x96\xbc\x90\x6c"};
        return pick(ranks); // 九段, 初段, 5d, 3k, ｱﾏ五段, 名人
    }

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

// Japanese records in code page 932 are never read as UTF-8, and their UTF-8 twins always are, with
// the same text. (With --gtest_shuffle each run takes new records.)
TEST(NothingLost, NoGeneratedCodePage932RecordIsReadAsUtf8)
{
    const unsigned seed = static_cast<unsigned>(testing::UnitTest::GetInstance()->random_seed());
    SourceGenerator generator(seed != 0 ? seed : 932);
    const int records = 20000;
    int readAsUtf8 = 0;
    for (int n = 0; n < records; ++n) {
        const std::string bytes = generator.japaneseRecord();
        const quillarn::SourceText read = quillarn::decodeSource(bytes);
        if (read.encoding != quillarn::SourceEncoding::Cp932) {
            ADD_FAILURE() << "read as UTF-8: " << testing::PrintToString(bytes);
            ++readAsUtf8;
            continue;
        }
        ASSERT_EQ(read.text, quillarn::decodeAnsi(bytes));
        const quillarn::SourceText twin = quillarn::decodeSource(quillarn::encodeUtf8(read.text));
        ASSERT_EQ(twin.encoding, quillarn::SourceEncoding::Utf8) << testing::PrintToString(bytes);
        ASSERT_EQ(twin.text, read.text) << testing::PrintToString(bytes);
    }
    EXPECT_EQ(readAsUtf8, 0) << "of " << records << " records";
}

// The converter reads a source's bytes; the translation of its decoded text defines every result.
// Both give the same record, warnings and reason for generated near misses with bytes put where
// the byte reading must tell a character from the second byte of another (a lead byte before a
// marker, a key, a comma or a colour), for their UTF-8 twins, and for lines whose comma stands at
// the edge of the 16-bit positions.
TEST(NothingLost, TheConversionOfBytesAgreesWithTheTranslationOfText)
{
    std::vector<std::string> sources;
    for (const std::string &padding : {std::string(32763, 'x'), std::string(32761, 'x') + "\x88\xe4"}) {
        for (const char *tail : {"QD,B", "xQD,B", "xxQD,B", "QD,b", "QD,"}) {
            UgiFields f;
            f.data = padding + tail + "\r\nDP,W\r\n";
            sources.push_back(ugiSource(f));
        }
    }
    SourceGenerator generator(1612);
    std::mt19937 random(1612);
    const std::vector<std::string> pieces = {"\x81",    "\x83",   "\xe0",     "\xfc",     "\x80",
                                             "\xa0",    "[Data]", "[Header]", "Title=",   "Size=9\r\n",
                                             "Hdcp=3,", "\r\n",   "\n",       "\r",       ",",
                                             ",W",      "QD,B",   "\xb1",     "\x82\xa0", "\xe4\xba\x95",
                                             "YS,W",    "]",      "\\",       "\x83\x5c", "\xef\xbb\xbf"};
    while (sources.size() < 4000) {
        std::string bytes = sources.size() % 3 == 0 ? generator.japaneseRecord() : generator.next();
        for (int k = static_cast<int>(random() % 4); k > 0; --k)
            bytes.insert(random() % (bytes.size() + 1), pieces[random() % pieces.size()]);
        if (random() % 4 == 0) {
            try {
                bytes =
                    (random() % 2 ? "\xef\xbb\xbf" : "") + quillarn::encodeUtf8(quillarn::decodeAnsi(bytes));
            } catch (const quillarn::CommandFailure &) {
            }
        }
        sources.push_back(bytes);
    }
    int converted = 0;
    for (const std::string &bytes : sources) {
        for (const quillarn::ConversionOptions &options : comparedOptions()) {
            const std::string expected = outcomeOf([&] { return referenceConversion(bytes, options); });
            ASSERT_EQ(outcomeOf([&] { return quillarn::convertSource(bytes, options); }), expected)
                << testing::PrintToString(bytes);
            converted += expected.compare(0, 10, "converted:") == 0 ? 1 : 0;
        }
    }
    // Both outcomes must be common, or the comparison holds the byte reading to too little.
    EXPECT_GT(converted, 2000);
    EXPECT_LT(converted, 9000);
}
