// Generated UGI sources for the tests that hold many records to an invariant: near misses of every
// kind, and well-formed Japanese records as clubs keep them.
#pragma once

#include "codepage.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace testing_support {

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

} // namespace testing_support
