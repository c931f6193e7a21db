// Every byte-exact case in tests/data, through the library: read, translate, encode; its reasons and
// warnings as ugi2sgf words them (NAME.fail and NAME.warn hold what it prints).
#include "../support/referencetranslator.h"
#include "codepage.h"
#include "commandfailure.h"
#include "convert.h"
#include "hints.h"
#include "recordfile.h"
#include "sourcekind.h"
#include "utf8codec.h"

#include "../support/datacases.h"
#include "../support/sgfcheck.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(DataCases, LibraryWritesTheExpectedBytesOrFailsWithTheExpectedReason)
{
    const auto cases = testing_support::dataCases();
    ASSERT_GE(cases.size(), 10u);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        quillarn::Conversion conversion;
        std::string reason;
        // Every reason and warning is one of the catalogue's, said in Japanese in its own words.
        const auto saidInBoth = [](const quillarn::Reason &said) {
            EXPECT_NE(said.said(), quillarn::Said::Text) << said.english();
            EXPECT_NE(said.in(quillarn::Language::Japanese), said.english());
        };
        try {
            conversion = quillarn::convertSource(quillarn::readFileBytes(c.source), {});
        } catch (const quillarn::CommandFailure &failure) {
            reason = quillarn::commandLineReason(failure);
            saidInBoth(failure.said());
        }
        for (const quillarn::Warning &warning : conversion.warnings)
            saidInBoth(warning.reason);
        const std::string &bytes = conversion.bytes;
        if (c.succeeds) {
            std::string warnings;
            for (const quillarn::Warning &warning : conversion.warnings)
                warnings += quillarn::commandLineReason(warning) + "\n";
            EXPECT_EQ(reason, "");
            EXPECT_EQ(bytes, c.expected);
            EXPECT_EQ(warnings, c.warnings);
            EXPECT_EQ(testing_support::sgfFileProblem(bytes), "");
        } else {
            EXPECT_EQ(reason, c.expected);
        }
    }
}

// The twin of a record in UTF-8, with and without a byte-order mark, converts to the same record file
// or fails with the same reason; no record in code page 932 is read as UTF-8. A record that holds
// bytes that do not decode has no twin.
TEST(DataCases, Utf8TwinOfEveryRecordConvertsLikeIt)
{
    std::size_t twins = 0;
    for (const auto &c : testing_support::dataCases()) {
        SCOPED_TRACE(c.name);
        const std::string original = quillarn::readFileBytes(c.source);
        EXPECT_EQ(quillarn::decodeSource(original).encoding, quillarn::SourceEncoding::Cp932);
        std::string twin;
        try {
            twin = quillarn::encodeUtf8(quillarn::decodeAnsi(original));
        } catch (const quillarn::CommandFailure &) {
            continue;
        }
        ++twins;
        for (const std::string &source : {twin, "\xEF\xBB\xBF" + twin}) {
            std::string outcome;
            try {
                outcome = quillarn::convertSource(source, {}).bytes;
            } catch (const quillarn::CommandFailure &failure) {
                outcome = failure.reason();
            }
            EXPECT_EQ(outcome, c.expected) << testing::PrintToString(source);
        }
    }
    EXPECT_GE(twins, 12u);
}

// A record whose line ends are all CR LF converts as its twins saved on other systems do, whose
// lines all end in LF or all in CR: the same bytes, or the same failure, and a warning first that
// names their line ends.
TEST(DataCases, TwinsWithTheLineEndsOfOtherSystemsConvertLikeTheRecord)
{
    std::size_t twins = 0;
    for (const auto &c : testing_support::dataCases()) {
        SCOPED_TRACE(c.name);
        const std::string original = quillarn::readFileBytes(c.source);
        std::string lf;
        for (std::size_t at = 0; at < original.size(); ++at) {
            if (original.compare(at, 2, "\r\n") != 0)
                lf += original[at];
        }
        const auto pairs = static_cast<long>(original.size() - lf.size());
        if (pairs == 0 || std::count(original.begin(), original.end(), '\r') != pairs ||
            std::count(original.begin(), original.end(), '\n') != pairs)
            continue; // not all CR LF
        ++twins;
        std::string cr = lf;
        std::replace(cr.begin(), cr.end(), '\n', '\r');
        for (const auto &[twin, warning] : {std::pair(lf, "line ends are LF, not CR LF\n"),
                                            std::pair(cr, "line ends are CR, not CR LF\n")}) {
            std::string outcome;
            std::string warnings;
            try {
                const quillarn::Conversion conversion = quillarn::convertSource(twin, {});
                outcome = conversion.bytes;
                for (const quillarn::Warning &said : conversion.warnings)
                    warnings += quillarn::commandLineReason(said) + "\n";
            } catch (const quillarn::CommandFailure &failure) {
                outcome = failure.reason();
            }
            EXPECT_EQ(outcome, c.expected);
            if (c.succeeds) {
                EXPECT_EQ(warnings, warning + c.warnings);
            }
        }
    }
    EXPECT_GE(twins, 10u);
}
