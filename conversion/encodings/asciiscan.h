// The runs of ASCII that make up most of a record (its keys, its data lines), passed over or copied
// eight bytes at a time by every reader of code page 932 and UTF-8: in both, a byte below 0x80 is a
// character of its own, so a run needs no decoding.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quillarn {

// Returns the first byte from in on that is not ASCII, or end.
inline const unsigned char *firstNotAscii(const unsigned char *in, const unsigned char *const end)
{
    while (end - in >= 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, in, sizeof chunk);
        if ((chunk & 0x8080808080808080u) != 0)
            break;
        in += 8;
    }
    while (in != end && *in < 0x80)
        ++in;
    return in;
}

// Calls step(at, end) at each byte of bytes that is not ASCII, passing over the ASCII runs between:
// step reads the character at at and returns where the next one starts, or null to stop the scan
// there. Returns false when step stopped it.
template <typename Step> bool scanNotAscii(std::string_view bytes, Step &&step)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = in + bytes.size();
    while ((in = firstNotAscii(in, end)) != end) {
        in = step(in, end);
        if (in == nullptr)
            return false;
    }
    return true;
}

// Copies the ASCII bytes from in on to out, a code unit each, and stops at the first byte that is
// not ASCII (or at end); returns where it stopped and advances out as far.
inline const unsigned char *copyAscii(const unsigned char *in, const unsigned char *const end, char16_t *&out)
{
    while (end - in >= 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, in, sizeof chunk);
        if ((chunk & 0x8080808080808080u) != 0)
            break;
        for (int i = 0; i < 8; ++i)
            out[i] = in[i];
        in += 8;
        out += 8;
    }
    while (in != end && *in < 0x80)
        *out++ = *in++;
    return in;
}

} // namespace quillarn
