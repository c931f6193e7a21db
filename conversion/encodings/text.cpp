// The text operations and checked position arithmetic of text.h.
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace quillarn {

namespace {

[[noreturn]] void fail(Said what, long long value)
{
    throw CommandFailure(Reason(what, {std::to_string(value)}));
}

template <typename T> T checked(long long value, Said what)
{
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        fail(what, value);
    return static_cast<T>(value);
}

char16_t lowerUnit(char16_t c)
{
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9) ||
        (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 0x20);
    if (c >= 0xFF21 && c <= 0xFF3A) // full-width Latin
        return static_cast<char16_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F)
        return static_cast<char16_t>(c + 0x50);
    return c;
}

char16_t upper(char16_t c)
{
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
        (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0xFF41 && c <= 0xFF5A)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

} // namespace

char16_t lowerCaseUnit(char16_t c)
{
    return lowerUnit(c);
}

std::string hexDigits(unsigned long value, int digits)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*lX", digits, value);
    return buffer;
}

std::string describe(unsigned c, const char *prefix, int digits)
{
    if (c >= 0x20 && c < 0x7F)
        return std::string("\"") + static_cast<char>(c) + "\"";
    return prefix + hexDigits(c, digits);
}

Int16 toInt16(Int32 value)
{
    return checked<Int16>(value, Said::PositionOutOfRange16);
}
Int16 add16(Int16 a, Int16 b)
{
    return checked<Int16>(static_cast<long long>(a) + b, Said::Overflow16);
}
Int16 sub16(Int16 a, Int16 b)
{
    return checked<Int16>(static_cast<long long>(a) - b, Said::Overflow16);
}
Int32 add32(Int32 a, Int32 b)
{
    return checked<Int32>(static_cast<long long>(a) + b, Said::Overflow32);
}
Int32 sub32(Int32 a, Int32 b)
{
    return checked<Int32>(static_cast<long long>(a) - b, Said::Overflow32);
}

Int32 Len(std::u16string_view text)
{
    return checked<Int32>(static_cast<long long>(text.size()), Said::TextTooLong);
}

Int32 InStr(std::u16string_view text, std::u16string_view needle)
{
    const auto found = text.find(needle);
    return found == std::u16string_view::npos
               ? 0
               : checked<Int32>(static_cast<long long>(found) + 1, Said::PositionTooLarge);
}

std::u16string_view Mid(std::u16string_view text, Int32 start)
{
    if (start < 1)
        fail(Said::StartPosition, start);
    if (static_cast<std::size_t>(start) > text.size())
        return {};
    return text.substr(static_cast<std::size_t>(start) - 1);
}

std::u16string_view Mid(std::u16string_view text, Int32 start, Int32 length)
{
    if (start < 1)
        fail(Said::StartPosition, start);
    if (length < 0)
        throw CommandFailure(Reason(Said::LengthNegative, {"Mid", std::to_string(length)}));
    if (static_cast<std::size_t>(start) > text.size())
        return {};
    return text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(length));
}

std::u16string_view Left(std::u16string_view text, Int32 n)
{
    if (n < 0)
        throw CommandFailure(Reason(Said::LengthNegative, {"Left", std::to_string(n)}));
    return text.substr(0, static_cast<std::size_t>(n));
}

std::u16string_view Right(std::u16string_view text, Int32 n)
{
    if (n < 0)
        throw CommandFailure(Reason(Said::LengthNegative, {"Right", std::to_string(n)}));
    const auto count = std::min(text.size(), static_cast<std::size_t>(n));
    return text.substr(text.size() - count);
}

std::u16string LCase(std::u16string_view text)
{
    std::u16string result(text);
    for (auto &c : result)
        c = lowerUnit(c);
    return result;
}

std::u16string UCase(std::u16string_view text)
{
    std::u16string result(text);
    for (auto &c : result)
        c = upper(c);
    return result;
}

} // namespace quillarn
