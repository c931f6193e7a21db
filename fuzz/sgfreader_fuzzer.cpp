// Fuzz target: the SGF position reader. Whatever the bytes, it returns a board or raises
// CommandFailure, in time bounded by their length and maxSgfNodes; anything else is a fault.
#include "commandfailure.h"
#include "sgfreader.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        quillarn::readSgfPosition(std::string_view(reinterpret_cast<const char *>(data), size));
    } catch (const quillarn::CommandFailure &) {
    }
    return 0;
}
