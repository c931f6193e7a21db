// Record file bytes in a chosen encoding, for sgfoutput.h.
#include "sgfoutput.h"

#include "codepage.h"
#include "recordfile.h"
#include "text.h"

namespace quillarn {

std::string recordFileBytes(std::u16string_view recordText, RecordEncoding encoding)
{
    if (encoding == RecordEncoding::Ansi)
        return recordFileBytes(recordText);

    // SGF readers take a record without CA to be Latin-1, so the charset leads the root node.
    // The record text is encoded around the insertion rather than copied to make room for it.
    constexpr std::u16string_view rootStart = u"(;";
    if (recordText.substr(0, rootStart.size()) != rootStart)
        throw CommandFailure("the record has no root node to carry CA[UTF-8]");
    std::string bytes = "(;CA[UTF-8]";
    bytes += encodeUtf8(recordText.substr(rootStart.size()));
    bytes += "\r\n";
    return bytes;
}

} // namespace quillarn
