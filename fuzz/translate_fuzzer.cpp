// Fuzz target: arbitrary bytes as a source file, decoded, translated and encoded as ugi2sgf and the
// window do it. Whatever the bytes, the only failure is a CommandFailure with a one-line reason, and
// a record that is produced is well-formed, loses nothing of the source (one node per move line,
// the header's values in the root) and reads back from its file exactly as it was written; and the
// converter, which reads the bytes, gives what the translation of the decoded text gives.
#include "codepage.h"
#include "convert.h"
#include "recordcheck.h"
#include "reference.h"
#include "referencetranslator.h"
#include "sgfcheck.h"
#include "text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "translate_fuzzer: %s\n", what.c_str());
    std::abort();
}

// The command line prints reasons after the file name on one line.
void checkReason(const quillarn::CommandFailure &failure)
{
    const std::string_view reason = failure.reason();
    if (reason.empty())
        fail("empty reason");
    for (const char c : reason) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            fail("control character in reason: " + std::string(reason));
    }
}

// U+DC80-U+DCFF: the code units of bytes that did not decode.
const std::u16string &undecodedBytes()
{
    static const std::u16string units = [] {
        std::u16string all;
        for (char16_t unit = 0xDC80; unit <= 0xDCFF; ++unit)
            all += unit;
        return all;
    }();
    return units;
}

// The converter reads the bytes; the translation of the decoded text defines every result: the
// same record, warnings and reason, whatever the encodings.
void compareWithTheTranslationOfText(std::string_view bytes)
{
    for (const quillarn::ConversionOptions &options : testing_support::comparedOptions()) {
        const std::string fast =
            testing_support::outcomeOf([&] { return quillarn::convertSource(bytes, options); });
        const std::string exact =
            testing_support::outcomeOf([&] { return testing_support::referenceConversion(bytes, options); });
        if (fast != exact)
            fail("the conversion of bytes and of text differ:\n" + fast + "\n" + exact);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    compareWithTheTranslationOfText(bytes);
    const std::u16string source = quillarn::decodeAnsi(bytes); // never raises

    std::u16string record;
    try {
        record = quillarn::translateRecord(source);
    } catch (const quillarn::CommandFailure &failure) {
        checkReason(failure);
        return 0;
    }
    if (const std::string problem = testing_support::sgfProblem(record); !problem.empty())
        fail("malformed record: " + problem);
    if (const std::string problem = testing_support::recordLossProblem(source, record); !problem.empty())
        fail("record loses part of the source: " + problem);

    std::string file;
    try {
        file = quillarn::recordFileBytes(record);
    } catch (const quillarn::CommandFailure &failure) {
        // Every decoded character has a code: only a byte that did not decode can stop the record
        // from being written, when it cannot be written without changing what reads back.
        checkReason(failure);
        if (record.find_first_of(undecodedBytes()) == std::u16string::npos)
            fail("a record without undecoded bytes was refused: " + std::string(failure.reason()));
        return 0;
    }
    if (const std::string problem = testing_support::recordFileProblem(record, file); !problem.empty())
        fail(problem);

    // The whole conversion writes the same file but for the handicap stones it may add to the root,
    // and says what it warns of in one line each.
    const quillarn::Conversion conversion = testing_support::referenceConversion(
        bytes, {quillarn::SourceEncoding::Cp932, quillarn::RecordEncoding::Ansi, false});
    const std::string &converted = conversion.bytes;
    std::size_t at = 0;
    while (at < file.size() && at < converted.size() && file[at] == converted[at])
        ++at;
    const std::size_t added = converted.size() - file.size();
    if (added != 0) {
        const std::string stones = converted.substr(at, added);
        bool placement =
            stones.size() >= 6 && stones.compare(0, 2, "AB") == 0 && (stones.size() - 2) % 4 == 0;
        for (std::size_t i = 2; placement && i < stones.size(); i += 4)
            placement = stones[i] == '[' && stones[i + 1] >= 'a' && stones[i + 1] <= 's' &&
                        stones[i + 2] >= 'a' && stones[i + 2] <= 's' && stones[i + 3] == ']';
        if (!placement || converted.compare(at + added, std::string::npos, file, at) != 0)
            fail("the conversion changed more than the handicap stones: " + stones);
    }
    for (const quillarn::Warning &warning : conversion.warnings)
        checkReason(quillarn::CommandFailure(warning.reason));
    return 0;
}
