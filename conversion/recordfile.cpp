// The part of recordfile.h that is the same on every system: the bytes of a record file and the
// names of records. The writer is in writer.cpp and groupwriter.cpp, the leftovers of killed writes
// in leftovers.cpp.
#include "recordfile.h"

#include "codepage.h"
#include "sgfoutput.h"
#include "text.h"

#include <algorithm>

namespace quillarn {

namespace fs = std::filesystem;

void writeFileAtomically(const fs::path &path, std::string_view bytes)
{
    LeftoverTemporaries leftovers;
    writeFileAtomically(path, bytes, leftovers);
}

bool hasExtension(std::string_view name, std::string_view extension)
{
    if (name.size() < extension.size())
        return false;
    const std::string_view end = name.substr(name.size() - extension.size());
    return std::equal(end.begin(), end.end(), extension.begin(),
                      [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

bool isRecordFileName(std::string_view name)
{
    return name.size() > 4 && hasExtension(name, ".ugi");
}

std::u16string readSourceFile(const fs::path &path)
{
    return decodeAnsi(readFileBytes(path));
}

std::string recordFileBytes(std::u16string_view recordText)
{
    constexpr std::u16string_view rootStart = u"(;";
    if (recordText.substr(0, rootStart.size()) != rootStart)
        throw CommandFailure("the record has no root node to carry its charset");
    const std::string body = encodeAnsi(recordText.substr(rootStart.size()));
    std::string bytes(recordStart(RecordEncoding::Ansi, usesCodePage932Extensions(body)));
    bytes += body;
    bytes += "\r\n";
    return bytes;
}

void writeRecordFile(const fs::path &path, std::u16string_view recordText)
{
    writeFileAtomically(path, recordFileBytes(recordText));
}

} // namespace quillarn
