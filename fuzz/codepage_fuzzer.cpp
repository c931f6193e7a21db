// Fuzz target: the code page round trip. Decoding never fails and encoding gives back what was
// decoded, so a record's text reaches its file unchanged, undecodable bytes included.
#include "codepage.h"
#include "text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string &what, std::string_view bytes)
{
    std::fprintf(stderr, "codepage_fuzzer: %s; input:", what.c_str());
    for (const char c : bytes)
        std::fprintf(stderr, " %02X", static_cast<unsigned char>(c));
    std::fprintf(stderr, "\n");
    std::abort();
}

bool isUndecoded(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

// The characters that code page 932 holds at more than one code (NEC row 13 and the IBM
// extensions), found by decoding every code, so the target does not trust the encoder's tables.
const std::vector<bool> &heldTwice()
{
    static const std::vector<bool> twice = [] {
        std::vector<int> codes(0x10000, 0);
        const auto count = [&](std::string_view code) {
            const std::u16string text = quillarn::decodeAnsi(code);
            if (text.size() == 1 && !isUndecoded(text[0]))
                ++codes[text[0]];
        };
        for (unsigned first = 0; first <= 0xFF; ++first) {
            const char one[1] = {static_cast<char>(first)};
            count(std::string_view(one, 1));
            for (unsigned second = 0x40; second <= 0xFC; ++second) {
                const char two[2] = {static_cast<char>(first), static_cast<char>(second)};
                count(std::string_view(two, 2));
            }
        }
        std::vector<bool> result(0x10000, false);
        for (std::size_t unit = 0; unit < codes.size(); ++unit)
            result[unit] = codes[unit] > 1;
        return result;
    }();
    return twice;
}

} // namespace

// The invariant, for any bytes x with text t = decodeAnsi(x):
// - encodeAnsi(t) either raises CommandFailure or gives bytes y with decodeAnsi(y) == t;
// - when t holds no character that the code page holds twice, encodeAnsi(t) does not raise and
//   y == x. A character held twice comes back as the one code Windows writes for it, so its bytes
//   may differ; and after a lead byte that did not decode, that code can complete the lead byte
//   into another character, which the encoder must refuse (it raises) instead of writing.
// - encodeUtf8(t) raises exactly when t holds a byte that did not decode.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view x(reinterpret_cast<const char *>(data), size);
    const std::u16string t = quillarn::decodeAnsi(x);

    bool duplicate = false;
    bool undecoded = false;
    for (const char16_t unit : t) {
        duplicate = duplicate || heldTwice()[unit];
        undecoded = undecoded || isUndecoded(unit);
    }

    std::string y;
    try {
        y = quillarn::encodeAnsi(t);
    } catch (const quillarn::CommandFailure &failure) {
        if (!duplicate)
            fail(std::string("encoding raised: ") + failure.reason(), x);
        return 0;
    }
    if (quillarn::decodeAnsi(y) != t)
        fail("the encoded bytes decode to other text", x);
    if (!duplicate && y != x)
        fail("the encoded bytes differ from the decoded ones", x);

    bool utf8Raised = false;
    try {
        quillarn::encodeUtf8(t);
    } catch (const quillarn::CommandFailure &) {
        utf8Raised = true;
    }
    if (utf8Raised != undecoded)
        fail(undecoded ? "UTF-8 took an undecoded byte" : "UTF-8 refused decoded text", x);
    return 0;
}
