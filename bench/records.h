// Generated UGI records for the benchmarks and for the data of bench/run.sh: a header with
// Japanese text in code page 932 and move lines as UGI writes them ("PD,B1,0,0").
#pragma once

#include <cstddef>
#include <string>

namespace benchdata {

// Returns the header and the "[Data]" line of record number n, in code page 932.
inline std::string recordHeader(unsigned n)
{
    std::string header = "[Header]\r\n";
    header += "Title=\x91\xe6" + std::to_string(n) + "\x89\xf1 Quillarn\x94\x74 \x8c\x88\x8f\x9f\r\n";
    header += "Copyright=\x97\xe1\x91\xe8\r\n";
    header += n % 3 == 0 ? "Winner=W,6.5\r\n" : "Winner=B,C\r\n";
    header += "PlayerB=\x8d\x95\x93\x63\x88\xea\x98\x59,\x8c\xdc\x92\x69,\r\n";
    header += "PlayerW=\x94\x92\x90\xce\x89\xd4\x8e\x71,\x8e\x6c\x92\x69,\r\n";
    header += "Place=\x91\xe5\x8d\xe3 \x8c\xe9\x89\xef\x8f\x8a\r\n";
    header += "Date=2000/10/" + std::to_string(10 + n % 20) + ",13:00\r\n";
    header += "Size=19\r\nHdcp=0,6.5\r\n[Data]\r\n";
    return header;
}

// Appends move line number move (1-based) of record n.
inline void appendMoveLine(std::string &out, std::size_t move, unsigned n)
{
    out += static_cast<char>('A' + (move * 7 + n * 3) % 19);
    out += static_cast<char>('A' + (move * 11 + n) % 19);
    out += move % 2 == 1 ? ",B" : ",W";
    out += std::to_string(move);
    out += ',';
    out += std::to_string(move - 1);
    out += ",0\r\n";
}

// Returns record n with the given number of moves.
inline std::string makeRecord(std::size_t moves, unsigned n = 1)
{
    std::string record = recordHeader(n);
    for (std::size_t move = 1; move <= moves; ++move)
        appendMoveLine(record, move, n);
    return record;
}

// Returns a record whose data section holds at least dataBytes bytes of move lines.
inline std::string makeRecordWithData(std::size_t dataBytes)
{
    std::string record = recordHeader(1);
    const std::size_t end = record.size() + dataBytes;
    record.reserve(end + 32);
    for (std::size_t move = 1; record.size() < end; ++move)
        appendMoveLine(record, move, 1);
    return record;
}

} // namespace benchdata
