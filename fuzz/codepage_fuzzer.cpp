// Fuzz target: the code page and UTF-8 round trips. Code page 932 decoding never fails and encoding
// gives back what was decoded, so a record's text reaches its file unchanged, undecodable bytes
// included; UTF-8 decoding takes exactly the valid UTF-8, and a source is read as UTF-8 exactly
// when it is valid UTF-8 with a character of three or four bytes.
#include "codepage.h"
#include "referencetranslator.h"
#include "text.h"
#include "utf8codec.h"

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

// The UTF-8 invariant, for any bytes x with text t = decodeAnsi(x):
// - decodeUtf8(x) either raises CommandFailure (anything else ends the run) or gives text u that
//   encodeUtf8 turns back into x: overlong forms, surrogates and code points beyond U+10FFFF cannot
//   come back, so they must have been refused;
// - the UTF-8 of t (when there is one) decodes to t, so valid UTF-8 is never refused;
// - decodeUtf8KeepingBytes(x) gives u when decodeUtf8 takes x, and always text whose characters
//   are x's UTF-8 characters and kept bytes (U+DC00 + byte, never a pair's half) in order.
void checkUtf8(std::string_view x, const std::u16string &t)
{
    std::u16string u;
    bool valid = true;
    try {
        u = quillarn::decodeUtf8(x);
    } catch (const quillarn::CommandFailure &) {
        valid = false;
    }
    if (valid) {
        std::string back;
        try {
            back = quillarn::encodeUtf8(u);
        } catch (const quillarn::CommandFailure &failure) {
            fail(std::string("decoded UTF-8 does not encode: ") + failure.reason(), x);
        }
        if (back != x)
            fail("decoded UTF-8 encodes to other bytes", x);
    }

    std::string utf8OfT;
    bool encoded = true;
    try {
        utf8OfT = quillarn::encodeUtf8(t);
    } catch (const quillarn::CommandFailure &) {
        encoded = false;
    }
    if (encoded) {
        try {
            if (quillarn::decodeUtf8(utf8OfT) != t)
                fail("UTF-8 of decoded text decodes to other text", x);
        } catch (const quillarn::CommandFailure &failure) {
            fail(std::string("UTF-8 of decoded text is refused: ") + failure.reason(), x);
        }
    }

    const std::u16string kept = quillarn::decodeUtf8KeepingBytes(x);
    if (valid && kept != u)
        fail("valid UTF-8 keeping its bytes decodes to other text", x);
    std::string back;
    for (std::size_t at = 0, start = 0; at <= kept.size(); ++at) {
        const bool keptByte = at < kept.size() && kept[at] >= 0xDC80 && kept[at] <= 0xDCFF &&
                              (at == 0 || kept[at - 1] < 0xD800 || kept[at - 1] > 0xDBFF);
        if (at < kept.size() && !keptByte)
            continue;
        back += quillarn::encodeUtf8(std::u16string_view(kept).substr(start, at - start));
        if (keptByte)
            back += static_cast<char>(kept[at] - 0xDC00);
        start = at + 1;
    }
    if (back != x)
        fail("UTF-8 keeping its bytes does not give the bytes back", x);
}

} // namespace

// The invariant, for any bytes x with text t = decodeAnsi(x):
// - encodeAnsi(t) either raises CommandFailure or gives bytes y with decodeAnsi(y) == t;
// - when t holds no character that the code page holds twice, encodeAnsi(t) does not raise and
//   y == x. A character held twice comes back as the one code Windows writes for it, so its bytes
//   may differ; and after a lead byte that did not decode, that code can complete the lead byte
//   into another character, which the encoder must refuse (it raises) instead of writing.
// - encodeUtf8(t) raises exactly when t holds a byte that did not decode;
// - and checkUtf8 above.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view x(reinterpret_cast<const char *>(data), size);
    const std::u16string t = quillarn::decodeAnsi(x);
    checkUtf8(x, t);

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
