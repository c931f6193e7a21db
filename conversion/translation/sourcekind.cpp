// Reading a source's bytes, and recognising files that are not UGI records, for sourcekind.h.
#include "sourcekind.h"

#include "codepage.h"
#include "sourcefile.h"
#include "text.h"
#include "translation.h"
#include "utf8codec.h"

#include <algorithm>
#include <vector>

namespace quillarn {

namespace {

constexpr std::size_t none = std::string_view::npos;

// The part of a file looked at for its kind: enough to tell text from other data.
constexpr std::size_t sampleSize = 1024;

bool startsWith(std::string_view bytes, std::string_view prefix)
{
    return bytes.substr(0, prefix.size()) == prefix;
}

// UTF-16 text of mostly ASCII characters has a NUL byte in every other place (at odd positions
// little-endian, at even ones big-endian); binary data has its NUL bytes on both sides alike.
bool looksLikeUtf16(std::string_view sample)
{
    if (startsWith(sample, "\xFF\xFE") || startsWith(sample, "\xFE\xFF"))
        return true;
    std::size_t nulAt[2] = {0, 0};
    for (std::size_t i = 0; i < sample.size(); ++i) {
        if (sample[i] == '\0')
            ++nulAt[i % 2];
    }
    const std::size_t units = sample.size() / 2;
    const std::size_t more = std::max(nulAt[0], nulAt[1]);
    const std::size_t fewer = std::min(nulAt[0], nulAt[1]);
    return units >= 4 && more * 4 >= units && fewer * 8 <= more;
}

// UTF-32 text of characters below U+10000 has NUL bytes in the two high places of every unit (the
// last two little-endian, the first two big-endian); text of ASCII characters in three of the four.
bool looksLikeUtf32(std::string_view sample)
{
    using namespace std::string_view_literals;
    if (startsWith(sample, "\xFF\xFE\0\0"sv) || startsWith(sample, "\0\0\xFE\xFF"sv))
        return true;
    const std::size_t units = sample.size() / 4;
    std::size_t little = 0;
    std::size_t big = 0;
    for (std::size_t i = 0; i < units; ++i) {
        const std::string_view unit = sample.substr(i * 4, 4);
        little += unit[2] == '\0' && unit[3] == '\0' && unit[0] != '\0' ? 1 : 0;
        big += unit[0] == '\0' && unit[1] == '\0' && unit[3] != '\0' ? 1 : 0;
    }
    return units >= 4 && std::max(little, big) * 8 >= units * 7;
}

// An SGF record starts with "(;" after blanks, if any (and a UTF-8 byte-order mark).
bool looksLikeSgf(std::string_view bytes)
{
    if (startsWith(bytes, "\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    constexpr std::string_view blanks = " \t\r\n";
    const std::size_t open = bytes.find_first_not_of(blanks);
    if (open == none || bytes[open] != '(')
        return false;
    const std::size_t semicolon = bytes.find_first_not_of(blanks, open + 1);
    return semicolon != none && bytes[semicolon] == ';';
}

bool isControlByte(unsigned char byte)
{
    // TAB, LF and CR belong to text; 0x1A ends many files written on MS-DOS.
    return (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != 0x1A) || byte == 0x7F;
}

} // namespace

Reason notARecordReason(std::string_view bytes, bool utf8Failed)
{
    const std::string_view sample = bytes.substr(0, sampleSize);
    if (looksLikeUtf32(sample))
        return Said::Utf32Text;
    if (looksLikeUtf16(sample))
        return Said::Utf16Text;
    // A text that fails as UTF-8 at one byte is told where that byte is, even with a stray control
    // character in it; binary data is told by its NUL bytes.
    if (std::any_of(sample.begin(), sample.end(), [utf8Failed](char c) {
            return utf8Failed ? c == '\0' : isControlByte(static_cast<unsigned char>(c));
        }))
        return Said::BinaryData;
    // Checked first: a comment of an SGF record may quote a UGI file.
    if (looksLikeSgf(bytes))
        return Said::AlreadySgf;
    if (bytes.find("[Header]") == std::string_view::npos)
        return Said::NoHeaderSection;
    return {};
}

void failJudgingTheFile(std::string_view bytes, bool readingFailed)
{
    Reason reason = notARecordReason(bytes, readingFailed);
    if (reason.empty())
        throw;
    throw CommandFailure(std::move(reason));
}

namespace {

// Returns what a warning about the source's encoding shows of what was read: the first property of
// the root node (";GN[...]...", escaped) whose value is not ASCII, "GN 莉子", with " …" after it when
// another is not ASCII either. A long value is cut, and a character that would break the line shows
// as "?".
std::string shownText(std::u16string_view node)
{
    std::string shown;
    for (std::size_t at = 1; at + 3 <= node.size();) {
        const std::u16string_view id = node.substr(at, 2);
        at += 3; // the identifier and "["
        std::u16string value;
        for (; at < node.size() && node[at] != u']'; ++at) {
            if (node[at] == u'\\' && at + 1 < node.size())
                ++at;
            value += node[at];
        }
        ++at; // "]"
        if (std::all_of(value.begin(), value.end(), [](char16_t c) { return c < 0x80; }))
            continue;
        if (!shown.empty())
            return shown + " \xE2\x80\xA6";
        shown.assign(id.begin(), id.end());
        shown += ' ';
        constexpr std::size_t longest = 24;
        for (std::size_t i = 0; i < value.size() && i < longest; ++i) {
            const char16_t c = value[i];
            if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || isHighSurrogate(c) || isLowSurrogate(c))
                shown += '?';
            else
                appendUtf8(shown, c);
        }
        if (value.size() > longest)
            shown += "...";
    }
    return shown;
}

} // namespace

Warning encodingDoubtWarning(EncodingDoubt doubt, std::u16string_view rootNode)
{
    const std::string shown = shownText(rootNode);
    Reason read = shown.empty() ? Reason() : Reason(Said::ShownInBrackets, {shown});
    if (doubt == EncodingDoubt::AlsoCp932)
        return {Reason(Said::ReadAsUtf8AlsoCp932, {std::move(read)}), ReasonKind::AlsoValidCp932};
    return {Reason(Said::ReadAsCp932AlsoUtf8, {std::move(read)}), ReasonKind::AlsoValidUtf8};
}

std::string_view withCrLfLineEnds(std::string_view bytes, std::string &room, std::optional<Warning> &warning)
{
    const bool cr = bytes.find('\r') != none;
    const bool lf = bytes.find('\n') != none;
    warning.reset();
    if (cr == lf)
        return bytes;
    const char end = lf ? '\n' : '\r';
    // Each line end grows by a byte: the record must still fit the positions it is read in.
    const auto grown = static_cast<long long>(bytes.size()) + std::count(bytes.begin(), bytes.end(), end);
    if (grown > maxSourceBytes)
        throw CommandFailure(
            Reason(Said::GrownTooLarge, {std::to_string(grown), std::to_string(maxSourceBytes)}));
    room.clear();
    room.reserve(static_cast<std::size_t>(grown));
    for (std::size_t from = 0; from < bytes.size();) {
        const std::size_t at = std::min(bytes.find(end, from), bytes.size());
        room.append(bytes, from, at - from);
        if (at < bytes.size())
            room += "\r\n";
        from = at + 1;
    }
    warning = Warning{lf ? Said::LineEndsLf : Said::LineEndsCr, ReasonKind::Other};
    return room;
}

std::u16string SourceBytes::decode(std::string_view span) const
{
    return utf8_ ? decodeUtf8(span) : decodeAnsi(span);
}

std::size_t SourceBytes::find(std::string_view needle, std::size_t from) const
{
    std::size_t known = from; // a character starts here, at or before every hit still to come
    for (std::size_t at = bytes_.find(needle, from); at != none; at = bytes_.find(needle, at + 1)) {
        // In UTF-8 an ASCII byte is always a character of its own.
        if (utf8_ || startsCharacter(at, known))
            return at;
    }
    return none;
}

// Returns true when a code page 932 character starts at at, reading forward from known (a character
// start at or before at), which it moves up to at or just past it.
bool SourceBytes::startsCharacter(std::size_t at, std::size_t &known) const
{
    // An ASCII byte is a character or the second byte of one: the byte after it starts one.
    for (std::size_t back = at; back > known; --back) {
        if (static_cast<unsigned char>(bytes_[back - 1]) < 0x80) {
            known = back;
            break;
        }
    }
    while (known < at) {
        const bool pair =
            known + 1 < bytes_.size() && isDoubleByteCharacter(static_cast<unsigned char>(bytes_[known]),
                                                               static_cast<unsigned char>(bytes_[known + 1]));
        known += pair ? 2 : 1;
    }
    return known == at;
}

namespace {

// Returns the bytes of an ASCII text (a marker or a key).
std::string asciiBytes(std::u16string_view text)
{
    return std::string(text.begin(), text.end());
}

// Returns the parts of the source that the translation reads, found in its bytes as the
// translation finds them: the header keys' lines (from the key to its CR LF), then the data section.
std::vector<std::string_view> translatedParts(const SourceBytes &source)
{
    std::vector<std::string_view> parts;
    const std::string_view bytes = source.bytes();
    const std::size_t header = source.find("[Header]", 0);
    for (const std::u16string_view key : headerKeys) {
        const std::size_t at = header != none ? source.find(asciiBytes(key), header) : none;
        if (at != none)
            parts.push_back(bytes.substr(at, std::min(bytes.find("\r\n", at), bytes.size()) - at));
    }
    const std::size_t marker = source.find("[Data]", 0);
    if (marker != none) {
        // The section ends before the CR LF of the first line that starts with "[", a byte that is
        // rare in data lines: a "[" after CR LF always starts a character, in either reading.
        const std::string_view data = bytes.substr(marker + 6);
        std::size_t end = data.find('[');
        while (end != none && end != 0 && (end < 2 || data.compare(end - 2, 2, "\r\n") != 0))
            end = data.find('[', end + 1);
        parts.push_back(data.substr(0, end == 0 || end == none ? end : end - 2));
    }
    return parts;
}

bool allOf(const std::vector<std::string_view> &parts, bool (*test)(std::string_view))
{
    return std::all_of(parts.begin(), parts.end(), test);
}

} // namespace

std::string_view utf8SourceBytes(std::string_view bytes, SourceEncoding encoding)
{
    const bool marked = startsWith(bytes, byteOrderMark);
    const std::string_view text = marked ? bytes.substr(byteOrderMark.size()) : bytes;
    if (utf8Shape(text).valid)
        return text;
    try {
        decodeUtf8(text); // raises with the reason that names the bytes
    } catch (const CommandFailure &failure) {
        if (encoding == SourceEncoding::Utf8)
            throw;
        throw CommandFailure(Reason(Said::AfterByteOrderMark, {failure.said()}));
    }
    return text;
}

SourceBytes readSource(std::string_view bytes, SourceEncoding encoding, EncodingDoubt &doubt)
{
    doubt = EncodingDoubt::None;
    if (encoding == SourceEncoding::Cp932)
        return {bytes, false};
    if (encoding == SourceEncoding::Utf8 || startsWith(bytes, byteOrderMark))
        return {utf8SourceBytes(bytes, encoding), true};
    const SourceBytes utf8(bytes, true);
    const SourceBytes ansi(bytes, false);
    // What the conversion reads must be UTF-8 for the UTF-8 reading to be one at all, and differ
    // between the readings for the choice to matter.
    const std::vector<std::string_view> utf8Parts = translatedParts(utf8);
    bool ascii = true;
    for (const std::string_view part : utf8Parts) {
        const Utf8Shape shape = utf8Shape(part);
        if (!shape.valid)
            return ansi;
        ascii = ascii && shape.ascii;
    }
    if (ascii && allOf(translatedParts(ansi), [](std::string_view part) { return utf8Shape(part).ascii; }))
        return ansi;
    // The whole file is evidence, every line of it in proportion to the text it holds. When the
    // parts the conversion reads would choose the other reading on their own, the file mixes the
    // two, and either choice may be wrong.
    // The data section, nearly all of a large record, is weighed once for both.
    const auto marginOf = [](std::string_view part) {
        const ReadingScores scores = readingScores(part);
        return scores.cp932 - scores.utf8;
    };
    const bool hasData = utf8.find("[Data]", 0) != none;
    const std::size_t keyParts = utf8Parts.size() - (hasData ? 1 : 0);
    long long partsMargin = 0;
    for (std::size_t i = 0; i < keyParts; ++i)
        partsMargin += marginOf(utf8Parts[i]);
    long long margin = 0;
    if (hasData) {
        const std::string_view data = utf8Parts.back();
        const auto dataStart = static_cast<std::size_t>(data.data() - bytes.data());
        const long long dataMargin = marginOf(data);
        partsMargin += dataMargin;
        margin = marginOf(bytes.substr(0, dataStart)) + dataMargin +
                 marginOf(bytes.substr(dataStart + data.size()));
    } else {
        margin = marginOf(bytes);
    }
    const bool cp932 = margin >= 0;
    if ((cp932 ? margin : -margin) < clearMargin || (cp932 ? partsMargin < 0 : partsMargin > 0))
        doubt = cp932 ? EncodingDoubt::AlsoUtf8 : EncodingDoubt::AlsoCp932;
    return cp932 ? ansi : utf8;
}

} // namespace quillarn
