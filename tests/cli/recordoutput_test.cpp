// The one mapping from what goes wrong while a record is converted into its output to the words
// ugi2sgf says, for the record alone and for each record of a batch: a message names the output
// only when the output is what failed, and names it as messages show names.
#include "../support/testfiles.h"

#include "recordoutput.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

namespace fs = std::filesystem;
using quillarn::RecordOutcome;

namespace {

// A sink on a full disk.
class FullSink : public quillarn::RecordSink {
public:
    void write(std::string_view) override { throw quillarn::CommandFailure("No space left on device"); }
};

} // namespace

TEST(RecordOutput, AFailureNamesTheOutputOnlyWhenTheOutputFailed)
{
    using End = RecordOutcome::End;
    const std::string good = testing_support::readBytes(fs::path(QUILLARN_TEST_DATA) / "basic-game.ugi");
    const std::string warned = testing_support::readBytes(fs::path(QUILLARN_TEST_DATA) / "illegal-moves.ugi");
    const std::string expected = testing_support::readBytes(fs::path(QUILLARN_TEST_DATA) / "basic-game.sgf");
    using Write = std::function<void(const quillarn::RecordProducer &)>;
    quillarn::StringSink written;
    const Write intoString = [&written](const quillarn::RecordProducer &produce) { produce(written); };
    struct Row {
        const char *name;
        std::string source; // "!" for a source that cannot be read
        bool strict;
        Write write;
        End end;
        std::string reason;
    };
    const Row rows[] = {
        {"written", good, false, intoString, End::Written, ""},
        {"the output cannot be opened", good, false,
         [](const quillarn::RecordProducer &) { throw quillarn::CommandFailure("Permission denied"); },
         End::Failed, "cannot write out/a\\nb.sgf: Permission denied"},
        {"the output is there", good, false,
         [](const quillarn::RecordProducer &) { throw quillarn::TargetExists(); }, End::TargetExists,
         "out/a\\nb.sgf exists (--force replaces it)"},
        {"the source cannot be read", "!", false, intoString, End::Failed, "No such file or directory"},
        {"the record fails", "neither a header nor moves", false, intoString, End::Failed,
         "not a UGI record: no [Header] section"},
        {"the record fails with a reason that has an option to try",
         good.substr(0, good.find("Match")) + "\xE4\xBA\x95\xE5\xB1\xB1 caf\xC3\xA9" +
             good.substr(good.find("Match") + 5),
         false, intoString, End::Failed,
         "character U+00E9 \"\xC3\xA9\" cannot be written in code page 932 (--encoding utf-8 writes it)"},
        {"the output fails when written to", good, false,
         [](const quillarn::RecordProducer &produce) {
             FullSink sink;
             produce(sink);
         },
         End::Failed, "cannot write out/a\\nb.sgf: No space left on device"},
        {"the output's folder cannot be made once the record is made", good, false,
         [](const quillarn::RecordProducer &produce) {
             quillarn::StringSink kept;
             produce(kept);
             throw quillarn::RecordFailure("cannot create folder out: Permission denied");
         },
         End::Failed, "cannot create folder out: Permission denied"},
        {"memory runs out", good, false, [](const quillarn::RecordProducer &) { throw std::bad_alloc(); },
         End::Failed, "out of memory"},
        {"strict holds the record back", warned, true, intoString, End::HeldBack, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        written.bytes.clear();
        quillarn::ConversionOptions options;
        options.strict = row.strict;
        const RecordOutcome outcome = quillarn::writeRecord(
            fs::u8path("out/a\nb.sgf"), options,
            [&row]() -> std::string_view {
                if (row.source == "!")
                    throw quillarn::CommandFailure("No such file or directory");
                return row.source;
            },
            row.write);
        EXPECT_EQ(outcome.end, row.end);
        EXPECT_EQ(outcome.reason, row.reason);
        EXPECT_EQ(written.bytes, row.end == End::Written ? expected : "");
        // A record held back says so on each line.
        const std::string heldBack = row.end == End::HeldBack ? "; not written (--strict)" : "";
        const std::vector<std::string> warnings =
            row.source == warned
                ? std::vector<
                      std::string>{"handicap 2 but White does not move first: no handicap stones (AB) "
                                   "written" +
                                       heldBack,
                                   "move 4 (W pd) is on an occupied point" + heldBack}
                : std::vector<std::string>{};
        EXPECT_EQ(outcome.warnings, row.end == End::Failed ? std::vector<std::string>{} : warnings);
    }
}
