// Source records for the reliability tests, built as bytes with any field replaced, and the
// conversion the library makes of a source file.
#pragma once

#include "../support/referencetranslator.h"
#include "codepage.h"
#include "convert.h"
#include "hints.h"
#include "recordfile.h"
#include "text.h"
#include "utf8codec.h"

#include <filesystem>
#include <string>

namespace testing_support {

// The basic game's fields; each test replaces the ones it is about. Bytes, in code page 932.
struct UgiFields {
    std::string title = "Match";
    std::string copyright = "x";
    std::string winner = "B,C";
    std::string playerB = "Kuro,3d,";
    std::string playerW = "Shiro,2d,";
    std::string place = "Hall";
    std::string date = "2000/10/24,";
    std::string size = "19";
    std::string hdcp = "0,6.5";
    std::string data = "QD,B1,1,0\r\nDP,W2,2,0\r\n";
    std::string lineEnd = "\r\n";
};

// The source bytes: "[Header]" on line 1, the nine keys on lines 2-10, "[Data]" on line 11, the
// data lines from line 12. Every line ends with lineEnd, the data lines' too.
inline std::string ugiSource(const UgiFields &f = {})
{
    const std::string &n = f.lineEnd;
    std::string data = f.data;
    for (std::size_t at = 0; n != "\r\n" && (at = data.find("\r\n", at)) != std::string::npos; at += n.size())
        data.replace(at, 2, n);
    return "[Header]" + n + "Title=" + f.title + n + "Copyright=" + f.copyright + n + "Winner=" + f.winner +
           n + "PlayerB=" + f.playerB + n + "PlayerW=" + f.playerW + n + "Place=" + f.place + n +
           "Date=" + f.date + n + "Size=" + f.size + n + "Hdcp=" + f.hdcp + n + "[Data]" + n + data;
}

// A data section of count moves, alternating colours; from the third on, each lands on a stone. With
// passes, every move but the first two is a pass, so that a board finds nothing wrong.
inline std::string moveLines(int count, bool passes = false)
{
    std::string data;
    data.reserve(static_cast<std::size_t>(count) * 16);
    for (int i = 0; i < count; ++i)
        data += std::string(passes && i >= 2 ? "YS,"
                            : i % 2          ? "DP,"
                                             : "QD,") +
                (i % 2 ? "W" : "B") + std::to_string(i + 1) + ",0\r\n";
    return data;
}

struct Conversion {
    std::string bytes;  // the record file's bytes when it converts
    std::string reason; // the failure's reason when it does not
};

// What the library makes of the file at path: read, translate, encode, as ugi2sgf --encoding cp932 does
// (and its reason as ugi2sgf words it).
inline Conversion convertWithLibrary(const std::filesystem::path &path)
{
    Conversion result;
    try {
        result.bytes = quillarn::convertSource(quillarn::readFileBytes(path), {}).bytes;
    } catch (const quillarn::CommandFailure &failure) {
        result.reason = quillarn::commandLineReason(failure);
    }
    return result;
}

// The record file bytes of source bytes that convert.
inline std::string recordFileBytesOf(const std::string &source)
{
    return quillarn::recordFileBytes(quillarn::translateRecord(quillarn::decodeAnsi(source)));
}

} // namespace testing_support
