// How often a source's encoding is read wrong: generated names and titles, and the records of a
// folder (tests/data), each in code page 932 and as its UTF-8 twin, converted as ugi2sgf converts
// them. Prints, for each set, how many of each were read in the other encoding, and how many were
// read as code page 932 with the warning that UTF-8 reads them too; and, beside it, how many the
// rule before it read wrong (UTF-8 whenever the whole file is valid UTF-8 with a character of three
// or four bytes).
//   quillarn_encodingrates [FOLDER]      FOLDER: records NAME.ugi in code page 932 (tests/data)
#include "codepage.h"
#include "commandfailure.h"
#include "convert.h"
#include "utf8codec.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using quillarn::RecordEncoding;
using quillarn::SourceEncoding;

struct Tally {
    long long sources = 0;
    long long cp932Misread = 0; // code page 932 sources read as UTF-8, or failed
    long long cp932Warned = 0;  // code page 932 sources read right, with the warning
    long long utf8Misread = 0;  // UTF-8 twins read as code page 932 (always with the warning), or failed
    long long utf8Unwarned = 0; // of those, read so without the warning
    long long cp932Before = 0;  // code page 932 sources the rule before read as UTF-8
    long long utf8Before = 0;   // UTF-8 twins the rule before read as code page 932
};

bool readAsUtf8Before(const std::string &bytes)
{
    const quillarn::Utf8Shape shape = quillarn::utf8Shape(bytes);
    return shape.valid && shape.longCharacters;
}

// Converts source to UTF-8; returns whether it gave expected, and sets warned when the first warning
// is the one of a source read as code page 932 that UTF-8 reads too.
bool convertsTo(const std::string &source, const std::string &expected, bool &warned)
{
    try {
        const quillarn::Conversion conversion =
            quillarn::convertSource(source, {SourceEncoding::Auto, RecordEncoding::Utf8, false});
        warned = !conversion.warnings.empty() && conversion.warnings.front() == quillarn::alsoUtf8Warning();
        return conversion.bytes == expected;
    } catch (const quillarn::CommandFailure &) {
        warned = false;
        return false;
    }
}

// Counts one source in code page 932 and its UTF-8 twin, which must both convert to expected.
void count(Tally &tally, const std::string &cp932, const std::string &expected)
{
    const std::string utf8 = quillarn::encodeUtf8(quillarn::decodeAnsi(cp932));
    ++tally.sources;
    bool warned = false;
    if (!convertsTo(cp932, expected, warned))
        ++tally.cp932Misread;
    else if (warned)
        ++tally.cp932Warned;
    if (!convertsTo(utf8, expected, warned)) {
        ++tally.utf8Misread;
        tally.utf8Unwarned += warned ? 0 : 1;
    }
    tally.cp932Before += readAsUtf8Before(cp932) ? 1 : 0;
    tally.utf8Before += utf8 != cp932 && !readAsUtf8Before(utf8) ? 1 : 0;
}

void print(const char *set, const Tally &t)
{
    const auto rate = [&](long long n) {
        return 100.0 * static_cast<double>(n) / static_cast<double>(t.sources);
    };
    std::printf("%s: %lld sources\n", set, t.sources);
    std::printf("  code page 932 read as UTF-8: %lld (%.4f%%), before %lld (%.4f%%)\n", t.cp932Misread,
                rate(t.cp932Misread), t.cp932Before, rate(t.cp932Before));
    std::printf("  code page 932 read right with the warning: %lld (%.4f%%)\n", t.cp932Warned,
                rate(t.cp932Warned));
    std::printf(
        "  UTF-8 read as code page 932: %lld (%.4f%%; %lld without the warning), before %lld (%.4f%%)\n",
        t.utf8Misread, rate(t.utf8Misread), t.utf8Unwarned, t.utf8Before, rate(t.utf8Before));
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

// A record whose only text outside ASCII is value, in the title or as Black's name.
std::string record(const std::string &title, const std::string &name)
{
    return "[Header]\r\nTitle=" + title + "\r\nCopyright=\r\nWinner=B,C\r\nPlayerB=" + name +
           ",5d,\r\nPlayerW=Sato,4d,\r\nPlace=Osaka\r\nDate=2001/05/03,13:00\r\nSize=19\r\nHdcp=0,6.5\r\n"
           "[Data]\r\nPD,B1,0,0\r\nDP,W2,0,0\r\n";
}

std::string expectedRecord(const std::string &title, const std::string &name)
{
    return "(;CA[UTF-8]GN[" + quillarn::encodeUtf8(quillarn::decodeAnsi(title)) + "]CP[]RE[B+R]PB[" +
           quillarn::encodeUtf8(quillarn::decodeAnsi(name)) +
           "]BR[5d]PW[Sato]WR[4d]PC[Osaka]DT[2001-05-03]SZ[19]HA[0]KM[6.5];B[pd];W[dp])\r\n";
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> kanji; // JIS level 1 (rows 16-47) and level 2 (rows 48-84)
    addCodes(kanji, 0x889F, 0x9872);
    addCodes(kanji, 0x989F, 0xEAA4);
    std::vector<std::string> kana; // hiragana, katakana
    addCodes(kana, 0x829F, 0x82F1);
    addCodes(kana, 0x8340, 0x8396);
    std::vector<std::string> characters = kanji;
    characters.insert(characters.end(), kana.begin(), kana.end());

    // Names: every pair of two of these characters.
    Tally names;
    for (const std::string &first : characters) {
        for (const std::string &second : characters) {
            const std::string name = first + second;
            count(names, record("Ladies Cup", name), expectedRecord("Ladies Cup", name));
        }
    }
    std::printf("characters: %zu kanji of levels 1 and 2, %zu kana\n", kanji.size(), kana.size());
    print("names (every pair of two characters)", names);

    // Titles: 1,000,000 of 2 to 10 characters, kanji, kana, full-width digits, half-width katakana
    // and ASCII mixed as titles mix them, from a fixed seed.
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
    Tally titles;
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
        count(titles, record(title, "Kuro"), expectedRecord(title, "Kuro"));
    }
    print("titles (1,000,000 generated)", titles);

    if (argc > 1) {
        Tally folder;
        for (const auto &entry : std::filesystem::directory_iterator(argv[1])) {
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
                count(folder, source, expected);
            } catch (const quillarn::CommandFailure &) {
                // a byte that does not decode: there is no UTF-8 twin, and nothing was counted
            }
        }
        print(argv[1], folder);
    }
    return 0;
}
