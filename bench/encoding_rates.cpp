// How often a source's encoding is read wrong, silently or with the warning that names the other
// reading: the words of a corpus (bench/encoding_corpus.py writes one from a Japanese dictionary),
// generated titles, and the records of a folder (tests/data), each in code page 932 and as its UTF-8
// twin, in a record whose other parts are ASCII, converted as ugi2sgf converts them.
//   quillarn_encodingrates [--words WORDS.tsv] [--titles] [--examples N] [FOLDER]
//     --examples N: show the first N sources read wrong (10)
//     WORDS.tsv: FIELD<TAB>TEXT a line, UTF-8 (FIELD: Title, Place or PlayerB)
//     FOLDER: records NAME.ugi in code page 932 (tests/data)
#include "codepage.h"
#include "commandfailure.h"
#include "convert.h"
#include "utf8codec.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

std::size_t examplesShown = 10;

using quillarn::RecordEncoding;
using quillarn::SourceEncoding;

struct Tally {
    long long sources = 0;
    long long cp932AlsoUtf8 = 0;       // code page 932 sources that are valid UTF-8 too
    long long cp932Silent = 0;         // code page 932 sources read as UTF-8 (or failed) without a warning
    long long cp932Warned = 0;         // ... with the warning
    long long cp932Doubted = 0;        // code page 932 sources read right, with the warning
    long long utf8Silent = 0;          // UTF-8 twins read as code page 932 (or failed) without a warning
    long long utf8Warned = 0;          // ... with the warning
    long long utf8Doubted = 0;         // UTF-8 twins read right, with the warning
    std::vector<std::string> examples; // the first few silent misreads
};

// Converts source to UTF-8; returns whether it gave expected, and sets warned when a warning says
// that the encoding was in doubt.
bool convertsTo(const std::string &source, const std::string &expected, bool &warned)
{
    warned = false;
    try {
        const quillarn::Conversion conversion =
            quillarn::convertSource(source, {SourceEncoding::Auto, RecordEncoding::Utf8, false});
        for (const quillarn::Warning &warning : conversion.warnings) {
            warned = warned || warning.kind == quillarn::ReasonKind::AlsoValidUtf8 ||
                     warning.kind == quillarn::ReasonKind::AlsoValidCp932;
        }
        return conversion.bytes == expected;
    } catch (const quillarn::CommandFailure &) {
        return false;
    }
}

// Counts one source in code page 932 and its UTF-8 twin, which must both convert to expected.
void count(Tally &tally, const std::string &cp932, const std::string &expected, const std::string &shown)
{
    const std::string utf8 = quillarn::encodeUtf8(quillarn::decodeAnsi(cp932));
    ++tally.sources;
    tally.cp932AlsoUtf8 += quillarn::utf8Shape(cp932).valid ? 1 : 0;
    bool warned = false;
    const auto example = [&](const char *how) {
        if (tally.examples.size() < examplesShown)
            tally.examples.push_back(std::string(how) + ": " + shown);
    };
    if (!convertsTo(cp932, expected, warned)) {
        ++(warned ? tally.cp932Warned : tally.cp932Silent);
        example(warned ? "code page 932 read as UTF-8, warned" : "code page 932 read as UTF-8");
    } else if (warned) {
        ++tally.cp932Doubted;
    }
    if (utf8 == cp932)
        return;
    if (!convertsTo(utf8, expected, warned)) {
        ++(warned ? tally.utf8Warned : tally.utf8Silent);
        example(warned ? "UTF-8 read as code page 932, warned" : "UTF-8 read as code page 932");
    } else if (warned) {
        ++tally.utf8Doubted;
    }
}

void print(const char *set, const Tally &t)
{
    const auto rate = [&](long long n) {
        return 100.0 * static_cast<double>(n) / static_cast<double>(t.sources);
    };
    std::printf("%s: %lld sources, %lld of them valid UTF-8 in code page 932\n", set, t.sources,
                t.cp932AlsoUtf8);
    std::printf("  code page 932 read as UTF-8: %lld silently (%.4f%%), %lld with the warning (%.4f%%)\n",
                t.cp932Silent, rate(t.cp932Silent), t.cp932Warned, rate(t.cp932Warned));
    std::printf("  UTF-8 read as code page 932: %lld silently (%.4f%%), %lld with the warning (%.4f%%)\n",
                t.utf8Silent, rate(t.utf8Silent), t.utf8Warned, rate(t.utf8Warned));
    std::printf("  read right with the warning: code page 932 %lld (%.4f%%), UTF-8 %lld (%.4f%%)\n",
                t.cp932Doubted, rate(t.cp932Doubted), t.utf8Doubted, rate(t.utf8Doubted));
    for (const std::string &example : t.examples)
        std::printf("  %s\n", example.c_str());
}

// The code page 932 codes of rows first to last that decode to one character.
void addCodes(std::vector<std::string> &codes, unsigned first, unsigned last)
{
    for (unsigned code = first; code <= last; ++code) {
        const std::string bytes{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
        const std::u16string text = quillarn::decodeAnsi(bytes);
        if (text.size() == 1 && (text[0] < 0xDC80 || text[0] > 0xDCFF))
            codes.push_back(bytes);
    }
}

// A record whose only text outside ASCII is text, in the header key field (Title, Place, PlayerB).
struct Fields {
    std::string title = "Ladies Cup";
    std::string name = "Kuro";
    std::string place = "Osaka";
};

Fields fieldsWith(const std::string &field, const std::string &text)
{
    Fields fields;
    (field == "PlayerB" ? fields.name : field == "Place" ? fields.place : fields.title) = text;
    return fields;
}

std::string record(const Fields &f)
{
    return "[Header]\r\nTitle=" + f.title + "\r\nCopyright=\r\nWinner=B,C\r\nPlayerB=" + f.name +
           ",5d,\r\nPlayerW=Sato,4d,\r\nPlace=" + f.place +
           "\r\nDate=2001/05/03,13:00\r\nSize=19\r\nHdcp=0,6.5\r\n[Data]\r\nPD,B1,0,0\r\nDP,W2,0,0\r\n";
}

std::string expectedRecord(const Fields &f)
{
    const auto utf8 = [](const std::string &cp932) {
        std::string value;
        for (const char c : quillarn::encodeUtf8(quillarn::decodeAnsi(cp932))) {
            if (c == '\\' || c == ']')
                value += '\\';
            value += c;
        }
        return value;
    };
    return "(;CA[UTF-8]GN[" + utf8(f.title) + "]CP[]RE[B+R]PB[" + utf8(f.name) + "]BR[5d]PW[Sato]WR[4d]PC[" +
           utf8(f.place) + "]DT[2001-05-03]SZ[19]HA[0]KM[6.5];B[pd];W[dp])\r\n";
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char **argv)
{
    std::string words;
    bool titles = false;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--words") == 0 && i + 1 < argc)
            words = argv[++i];
        else if (std::strcmp(argv[i], "--examples") == 0 && i + 1 < argc)
            examplesShown = std::stoul(argv[++i]);
        else if (std::strcmp(argv[i], "--titles") == 0)
            titles = true;
        else
            folder = argv[i];
    }

    if (!words.empty()) {
        std::ifstream in(words, std::ios::binary);
        Tally tally;
        for (std::string line; std::getline(in, line);) {
            const std::size_t tab = line.find('\t');
            if (tab == std::string::npos)
                continue;
            std::string text;
            try {
                text = quillarn::encodeAnsi(quillarn::decodeUtf8(line.substr(tab + 1)));
            } catch (const quillarn::CommandFailure &) {
                continue; // a character that code page 932 has no code for
            }
            const Fields fields = fieldsWith(line.substr(0, tab), text);
            count(tally, record(fields), expectedRecord(fields), line);
        }
        print(words.c_str(), tally);
    }

    if (titles) {
        // 1,000,000 titles of 2 to 10 characters, kanji, kana, full-width digits, half-width
        // katakana and ASCII mixed as titles mix them, from a fixed seed.
        std::vector<std::string> kanji; // JIS level 1 (rows 16-47) and level 2 (rows 48-84)
        addCodes(kanji, 0x889F, 0x9872);
        addCodes(kanji, 0x989F, 0xEAA4);
        std::vector<std::string> kana; // hiragana, katakana
        addCodes(kana, 0x829F, 0x82F1);
        addCodes(kana, 0x8340, 0x8396);
        std::vector<std::string> digits;
        addCodes(digits, 0x824F, 0x8258);
        std::vector<std::string> halfWidth;
        for (unsigned byte = 0xA1; byte <= 0xDF; ++byte)
            halfWidth.emplace_back(1, static_cast<char>(byte));
        std::vector<std::string> ascii;
        for (char c = '0'; c <= 'z'; ++c) {
            if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                ascii.emplace_back(1, c);
        }
        ascii.emplace_back(" ");
        std::mt19937 random(932);
        const auto pick = [&](const std::vector<std::string> &from) { return from[random() % from.size()]; };
        Tally tally;
        for (int n = 0; n < 1000000; ++n) {
            std::string title;
            for (int length = 2 + static_cast<int>(random() % 9); length > 0; --length) {
                const unsigned kind = random() % 20;
                title += pick(kind < 10   ? kanji
                              : kind < 15 ? kana
                              : kind < 16 ? digits
                              : kind < 17 ? halfWidth
                                          : ascii);
            }
            const Fields fields = fieldsWith("Title", title);
            count(tally, record(fields), expectedRecord(fields),
                  quillarn::encodeUtf8(quillarn::decodeAnsi(title)));
        }
        print("titles (1,000,000 generated)", tally);
    }

    if (!folder.empty()) {
        Tally tally;
        for (const auto &entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() != ".ugi")
                continue;
            const std::string source = readFile(entry.path());
            std::string expected;
            try {
                expected =
                    quillarn::convertSource(source, {SourceEncoding::Cp932, RecordEncoding::Utf8, false})
                        .bytes;
            } catch (const quillarn::CommandFailure &) {
                continue; // a record that fails in code page 932 says nothing about its reading
            }
            try {
                count(tally, source, expected, entry.path().filename().string());
            } catch (const quillarn::CommandFailure &) {
                // a byte that does not decode: there is no UTF-8 twin, and nothing was counted
            }
        }
        print(folder.c_str(), tally);
    }
    return 0;
}
