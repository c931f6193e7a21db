// Reading the position an SGF record ends in: the main line of its first game tree (the first
// variation at every branch) replayed on a Board, for pictures of records. Only what puts stones on
// the board is read (SZ, AB, AW, AE, B, W) and CA, which says how values are scanned. The reader
// holds the board, never the values: a file of millions of values costs no more memory than a game.
#pragma once

#include "board.h"

#include <string_view>

namespace quillarn {

// The most nodes read from one file, counted in file order. A game holds a few hundred; the main
// line comes before every other variation, so only a main line longer than this is cut. Each node
// costs at most one move, so reading stays well under a second whatever the file holds.
constexpr int maxSgfNodes = 100000;

// Returns the board after the main line of the first game tree in bytes, an SGF file: an empty board of
// the root node's SZ (19 without one), then each node's setup (AE, AB and AW, as points or rectangles
// "aa:cc") and its move (B or W; an empty value, and "tt" on boards up to 19, is a pass). A move that
// the board refuses (an occupied point, suicide, a ko retake) or that names no point of the board
// leaves the board as it was, and the reading goes on: the one rule of a refused move
// (docs/ugi-format.md), which the conversion's replay (game.h) follows too, so that the picture of a
// record shows the rest of the game whichever of the two read it. Other properties are skipped. From a
// CA of the root that names code page 932 (Shift_JIS, CP932, Windows-31J, SJIS) or a Chinese
// double-byte code (GB2312, GBK, GB18030, CP936, Big5, CP950), in any letter case, the values after it
// are scanned by characters of that code, so a second byte "\" or "]" neither escapes nor ends a value;
// otherwise byte by byte, which is right for UTF-8 and single-byte codes. Reading stops after
// maxSgfNodes nodes, with the position reached there. Raises CommandFailure when bytes hold no game
// tree "(;", when the tree or a value in it is not closed, for a byte outside values that SGF has no
// place for, for an SZ that is not a number from 2 to 25 (or "n:n"), and for more than maxSourceBytes
// bytes.
Board readSgfPosition(std::string_view bytes);

} // namespace quillarn
