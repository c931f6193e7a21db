// Record file bytes in a chosen encoding, for sgfoutput.h.
#include "sgfoutput.h"

#include "codepage.h"
#include "recordfile.h"
#include "text.h"

namespace quillarn {

std::string_view recordStart(RecordEncoding encoding, bool codePage932Only)
{
    if (encoding == RecordEncoding::Utf8)
        return "(;CA[UTF-8]";
    return codePage932Only ? "(;CA[CP932]" : "(;CA[Shift_JIS]";
}

std::string recordFileBytes(std::u16string_view recordText, RecordEncoding encoding)
{
    if (encoding == RecordEncoding::Ansi)
        return recordFileBytes(recordText);

    constexpr std::u16string_view rootStart = u"(;";
    if (recordText.substr(0, rootStart.size()) != rootStart)
        throw CommandFailure("the record has no root node to carry CA[UTF-8]");
    std::string bytes(recordStart(encoding, false));
    bytes += encodeUtf8(recordText.substr(rootStart.size()));
    bytes += "\r\n";
    return bytes;
}

} // namespace quillarn
