// The converter as the web page's workers call it (through embind): the conversion of one source,
// the batch's names and order for the files and folders a user opened, and the board of the preview.
// Sources come in as bytes written into the module's memory, and records go back as a view of it:
// a JavaScript string through embind's std::string is re-encoded as UTF-8 and would corrupt code
// page 932. Nothing here converts: every step is the core's, as ugi2sgf calls it.
#include "batchplan.h"
#include "convert.h"
#include "recordfile.h"
#include "recordname.h"
#include "shown.h"
#include "sourcefile.h"

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

using emscripten::val;

// The source being converted, written by the page into the module's memory, and the last record,
// which the page copies out before it converts again.
quillarn::ReadBuffer source;
std::size_t sourceSize = 0; // what the room was last made for
std::string record;

// Returns the whole number value, which JavaScript gives as a double: never negative, never more
// than most, never a fraction or not a number at all. Raises CommandFailure naming what it is
// otherwise, so that no cast ever meets a value it cannot hold.
std::size_t countOf(double value, double most, const char *what)
{
    if (!(value >= 0 && value <= most) || value != static_cast<double>(static_cast<std::uint64_t>(value)))
        throw quillarn::CommandFailure(std::string("the page gave ") + what +
                                       " that is not a count from 0 to " +
                                       std::to_string(static_cast<std::uint64_t>(most)));
    return static_cast<std::size_t>(value);
}

// Returns a view of room for a source of size bytes, which the page fills and then converts;
// null when the memory cannot be had, or size is no size of a source.
val sourceRoom(double size)
{
    try {
        const std::size_t bytes = countOf(size, static_cast<double>(quillarn::maxSourceBytes), "a size");
        char *const room = source.room(bytes);
        sourceSize = bytes;
        return val(emscripten::typed_memory_view(bytes, reinterpret_cast<unsigned char *>(room)));
    } catch (const std::bad_alloc &) {
        return val::null();
    } catch (const quillarn::CommandFailure &) {
        return val::null();
    }
}

quillarn::ConversionOptions optionsNamed(const std::string &output, const std::string &sourceEncoding,
                                         bool strict)
{
    quillarn::ConversionOptions options;
    options.output = output == "cp932" ? quillarn::RecordEncoding::Ansi : quillarn::RecordEncoding::Utf8;
    options.source = sourceEncoding == "cp932"   ? quillarn::SourceEncoding::Cp932
                     : sourceEncoding == "utf-8" ? quillarn::SourceEncoding::Utf8
                                                 : quillarn::SourceEncoding::Auto;
    options.strict = strict;
    return options;
}

// Returns the name the page knows a kind of reason by, for the hint it adds in its own words; empty
// for a reason without one.
const char *kindName(quillarn::ReasonKind kind)
{
    switch (kind) {
    case quillarn::ReasonKind::NotInCodePage932:
        return "not-in-code-page-932";
    case quillarn::ReasonKind::AlsoValidUtf8:
        return "also-valid-utf-8";
    case quillarn::ReasonKind::AlsoValidCp932:
        return "also-valid-cp932";
    case quillarn::ReasonKind::Other:
        break;
    }
    return "";
}

// Returns a message of the page: {text, ja, kind}, the core's reason in English and in Japanese, kind
// as kindName names it.
val message(const quillarn::Reason &reason, quillarn::ReasonKind kind = quillarn::ReasonKind::Other)
{
    val out = val::object();
    out.set("text", reason.english());
    out.set("ja", reason.in(quillarn::Language::Japanese));
    out.set("kind", std::string(kindName(kind)));
    return out;
}

// The position of the record converted last for the preview, every move kept.
quillarn::GamePosition position;
std::vector<unsigned char> stones;
std::vector<std::int32_t> numbers;

// Converts the first size bytes of the source room with options. Returns {converted, warnings,
// reason, size, moves}, warnings and reason lists of messages ({text, kind}): a record that converts
// is in recordBytes(); a record that fails has the core's reason, and one that strict holds back its
// warnings, one a message, as the batch reports them. With kept, the position is kept for
// boardAfter() (size is its board's, moves its number of moves).
val convertWith(double size, const quillarn::ConversionOptions &options, quillarn::GamePosition *kept)
{
    val result = val::object();
    record.clear();
    val reason = val::array();
    val warnings = val::array();
    try {
        quillarn::StringSink sink;
        sink.bytes.swap(record); // keeps the memory of the last record
        // Only what the room holds: a size beyond it would read memory the source never filled.
        const std::size_t count = countOf(size, static_cast<double>(sourceSize), "a size");
        const std::string_view bytes =
            count == 0 ? std::string_view() : std::string_view(source.room(0), count);
        quillarn::ConversionReport report = quillarn::convertRecord(bytes, options, sink);
        record.swap(sink.bytes);
        for (const quillarn::Warning &warning : report.warnings)
            (report.written ? warnings : reason).call<void>("push", message(warning.reason, warning.kind));
        if (kept) {
            *kept = std::move(report.position);
            result.set("size", kept->size);
            result.set("moves", static_cast<double>(kept->moves.size()));
        }
    } catch (const quillarn::CommandFailure &failure) {
        reason.call<void>("push", message(failure.said(), failure.kind()));
    } catch (const std::bad_alloc &) {
        reason.call<void>("push", message(quillarn::Said::OutOfMemory));
    }
    const bool converted = reason["length"].as<unsigned>() == 0;
    if (!converted) {
        record.clear();
        warnings = val::array();
        if (kept)
            *kept = {};
    }
    result.set("converted", converted);
    result.set("warnings", warnings);
    result.set("reason", reason);
    return result;
}

// Converts the source room as ugi2sgf does with its options (output "utf-8" or "cp932"; source
// "auto", "utf-8" or "cp932"; strict).
val convert(double size, const std::string &output, const std::string &sourceEncoding, bool strict)
{
    return convertWith(size, optionsNamed(output, sourceEncoding, strict), nullptr);
}

// convert, keeping the position of the record and every move of it for boardAfter().
val preview(double size, const std::string &output, const std::string &sourceEncoding, bool strict)
{
    quillarn::ConversionOptions options = optionsNamed(output, sourceEncoding, strict);
    options.game = quillarn::GameDetail::Moves;
    return convertWith(size, options, &position);
}

// Returns the board of the record of the last preview() after its first move moves, as the
// converter's replay has it: {stones, numbers, x, y, colour, blackCaptures, whiteCaptures}, stones a
// view of size x size points row by row (0 empty, 1 black, 2 white), numbers the move that put each
// stone there (0 for none: a handicap stone, an empty point), x, y and colour (0 none) those of the last move
// played (x = y = -1 for a pass or before the first move) and the stones each colour has captured. Only for a
// position with a board (size not 0).
val boardAfter(double moves)
{
    const std::size_t count = countOf(std::min(moves, static_cast<double>(position.moves.size())),
                                      static_cast<double>(position.moves.size()), "a number of moves");
    const quillarn::Board board = quillarn::boardAfter(position, count);
    const int size = position.size;
    stones.assign(static_cast<std::size_t>(size * size), 0);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x)
            stones[static_cast<std::size_t>(y * size + x)] = static_cast<unsigned char>(board.at(x, y));
    }
    val result = val::object();
    result.set("stones", val(emscripten::typed_memory_view(stones.size(), stones.data())));
    // The number of the move that put each stone there (0 for a handicap stone or an empty point).
    numbers.assign(stones.size(), 0);
    for (std::size_t i = 0; i < count; ++i) {
        const quillarn::ReplayedMove &move = position.moves[i];
        if (move.x >= 0 && move.x < size && move.y >= 0 && move.y < size)
            numbers[static_cast<std::size_t>(move.y * size + move.x)] = static_cast<std::int32_t>(i + 1);
    }
    for (std::size_t point = 0; point < numbers.size(); ++point) {
        const std::int32_t number = numbers[point];
        if (number != 0 &&
            static_cast<int>(position.moves[static_cast<std::size_t>(number - 1)].colour) != stones[point])
            numbers[point] = 0;
    }
    result.set("numbers", val(emscripten::typed_memory_view(numbers.size(), numbers.data())));
    const quillarn::ReplayedMove last =
        count ? position.moves[count - 1] : quillarn::ReplayedMove{quillarn::Stone::None, -1, -1};
    result.set("x", static_cast<int>(last.x));
    result.set("y", static_cast<int>(last.y));
    result.set("colour", static_cast<int>(last.colour));
    result.set("blackCaptures", board.captures(quillarn::Stone::Black));
    result.set("whiteCaptures", board.captures(quillarn::Stone::White));
    return result;
}

// Returns a view of the last record's bytes, valid until the next call.
val recordBytes()
{
    return val(
        emscripten::typed_memory_view(record.size(), reinterpret_cast<const unsigned char *>(record.data())));
}

// Returns the message a source of size bytes fails with, before it is read; null when it may be read.
val sizeReason(double size)
{
    if (!(size > static_cast<double>(quillarn::maxSourceBytes)))
        return val::null(); // not a number at all: sourceRoom refuses it
    // Cast only what a long long holds (an infinity does not).
    constexpr double largest = 9.2e18;
    return message(quillarn::sourceTooLarge(size < largest ? static_cast<long long>(size)
                                                           : std::numeric_limits<long long>::max()));
}

// The items of a batch for what the page opened, in the batch's order. opened is an array of
// {path, folder, entries}: a file (its name) or a folder (its name, and the paths below it that
// its walk found, each as "NAME/sub/file", a folder that could not be read as {path, reason}).
// Returns an array of {opened, entry, source, shown, target, reason, leftOut}, reason a message or
// null, entry the index in the entries (-1
// for the file or folder itself): a record with its target (the names kept below the folder, the
// extension made .sgf), or an item that fails with reason. As ugi2sgf's batch: in a folder only
// .ugi names are records, in the byte order of their paths; a folder without one fails with
// "no .ugi records". Of records with the same target the first keeps it in the zip; each later one
// is shown with its number among them ("game.ugi (2)"), and is converted and saved alone, but is
// left out of the zip with leftOut, a message that names the first.
val plan(const val &opened)
{
    struct Item {
        std::string path;
        quillarn::Reason reason;
        int entry;
    };
    val items = val::array();
    // A zip may be unpacked where names that differ only in letter case name one file.
    quillarn::TargetClaims claims(true);
    std::map<std::string, int> sharing; // how many more records each target kept by another has
    const auto length = opened["length"].as<unsigned>();
    for (unsigned i = 0; i < length; ++i) {
        const val given = opened[i];
        const std::string root = given["path"].as<std::string>();
        std::vector<Item> found;
        if (given["folder"].as<bool>()) {
            const val entries = given["entries"];
            const auto count = entries["length"].as<unsigned>();
            for (unsigned e = 0; e < count; ++e) {
                const val entry = entries[e];
                std::string path = entry["path"].as<std::string>();
                const bool failed = !entry["reason"].isUndefined();
                const std::string name = path.substr(path.rfind('/') + 1);
                if (failed)
                    found.push_back({path + "/", entry["reason"].as<std::string>(), static_cast<int>(e)});
                else if (quillarn::isRecordFileName(name))
                    found.push_back({std::move(path), {}, static_cast<int>(e)});
            }
            // The walk's order: a folder's entries by name, a folder's name taken with "/" after
            // it, which the whole paths compared byte for byte give as well.
            std::sort(found.begin(), found.end(),
                      [](const Item &a, const Item &b) { return quillarn::inWalkOrder(a.path, b.path); });
            if (found.empty())
                found.push_back({root, quillarn::Said::NoUgiRecords, -1});
        } else {
            found.push_back({root, {}, -1});
        }
        for (Item &item : found) {
            val out = val::object();
            out.set("opened", i);
            out.set("entry", item.entry);
            if (!item.reason.empty()) {
                if (item.path.back() == '/')
                    item.path.pop_back();
                out.set("source", item.path);
                out.set("shown", quillarn::shownText(item.path));
                out.set("target", std::string());
                out.set("reason", message(item.reason));
                items.call<void>("push", out);
                continue;
            }
            // Where the record unpacks must be safe on every system. Two records given twice are
            // two records all the same: the page has no way to tell that they are one file.
            const std::string target = quillarn::archivePath(item.path);
            std::string first;
            const bool kept = claims.claim(target, std::to_string(i) + "/" + item.path, item.path, first) ==
                              quillarn::TargetClaims::Claim::Kept;
            std::string shown = quillarn::shownText(item.path);
            if (!kept)
                shown += " (" + std::to_string(++sharing[target] + 1) + ")";
            out.set("source", item.path);
            out.set("shown", shown);
            out.set("target", target);
            out.set("reason", val::null());
            out.set("leftOut", kept ? val::null()
                                    : message(quillarn::Reason(quillarn::Said::LeftOutOfZip,
                                                               {quillarn::shownText(target), first})));
            items.call<void>("push", out);
        }
    }
    return items;
}

} // namespace

EMSCRIPTEN_BINDINGS(quillarn)
{
    emscripten::function("sourceRoom", &sourceRoom);
    emscripten::function("convert", &convert);
    emscripten::function("preview", &preview);
    emscripten::function("boardAfter", &boardAfter);
    emscripten::function("recordBytes", &recordBytes);
    emscripten::function("sizeReason", &sizeReason);
    emscripten::function("plan", &plan);
}
