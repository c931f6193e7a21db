// The start of a record file in a chosen encoding, for sgfoutput.h.
#include "sgfoutput.h"

namespace quillarn {

std::string_view recordStart(RecordEncoding encoding, bool codePage932Only)
{
    if (encoding == RecordEncoding::Utf8)
        return "(;CA[UTF-8]";
    return codePage932Only ? "(;CA[CP932]" : "(;CA[Shift_JIS]";
}

} // namespace quillarn
