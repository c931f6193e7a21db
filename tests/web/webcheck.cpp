// The native side of the browser test (browser_test.py): generated records to open in the page, and
// the board the core's replay gives, to hold the page's preview to.
//   quillarn_webcheck records DIR COUNT SEED   COUNT generated records in DIR and folders below it
//   quillarn_webcheck board FILE MOVES...      the board after each number of moves: a line
//                                              "SIZE MOVES" and then, per number, SIZE rows of
//                                              ".", "X" (black) and "O" (white)
#include "../support/sourcegenerator.h"
#include "convert.h"
#include "recordfile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

namespace fs = std::filesystem;

// Near misses and well-formed Japanese records, in folders two deep and beside them, under names
// that end in ".ugi" in either letter case, some of them Japanese.
int writeRecords(const fs::path &root, int count, unsigned seed)
{
    testing_support::SourceGenerator generator(seed);
    for (int n = 0; n < count; ++n) {
        fs::path folder = root;
        if (n % 4 != 0)
            folder /= "club-" + std::to_string(n % 3) + "/" + std::to_string(2000 + n % 7);
        fs::create_directories(folder);
        std::string name = (n % 10 == 5 ? "\xe6\xa3\x8b\xe8\xad\x9c-" : "game-") + std::to_string(n);
        name += n % 9 == 4 ? ".UGI" : ".ugi";
        std::ofstream out(folder / fs::u8path(name), std::ios::binary);
        const std::string bytes = n % 2 ? generator.japaneseRecord() : generator.next();
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::cerr << "quillarn_webcheck: cannot write " << (folder / name).string() << "\n";
            return 1;
        }
    }
    return 0;
}

int printBoards(const std::string &file, int argc, char **argv)
{
    quillarn::ConversionOptions options;
    options.game = quillarn::GameDetail::Moves;
    const quillarn::Conversion conversion = quillarn::convertSource(quillarn::readFileBytes(file), options);
    const quillarn::GamePosition &position = conversion.position;
    std::cout << position.size << " " << position.moves.size() << "\n";
    for (int i = 0; i < argc; ++i) {
        const quillarn::Board board = quillarn::boardAfter(position, std::strtoul(argv[i], nullptr, 10));
        for (int y = 0; y < position.size; ++y) {
            for (int x = 0; x < position.size; ++x) {
                const quillarn::Stone stone = board.at(x, y);
                std::cout << (stone == quillarn::Stone::Black   ? 'X'
                              : stone == quillarn::Stone::White ? 'O'
                                                                : '.');
            }
            std::cout << "\n";
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "records" && argc == 5)
            return writeRecords(argv[2], std::atoi(argv[3]),
                                static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
        if (mode == "board" && argc >= 4)
            return printBoards(argv[2], argc - 3, argv + 3);
    } catch (const quillarn::CommandFailure &failure) {
        std::cerr << "quillarn_webcheck: " << failure.reason() << "\n";
        return 1;
    }
    std::cerr << "usage: quillarn_webcheck records DIR COUNT SEED | board FILE MOVES...\n";
    return 2;
}
