// The outcomes and reasons of recordoutput.h.
#include "recordoutput.h"

#include "hints.h"
#include "language.h"
#include "shown.h"

#include <new>

namespace quillarn {

namespace {

} // namespace

std::string existsReason(const std::string &output)
{
    return said(Reason(Said::OutputExists, {output}));
}

std::string folderReason(const std::string &output)
{
    return said(cannotWriteReason(output, Said::ItIsAFolder));
}

std::string failureReason(const std::exception &error)
{
    if (dynamic_cast<const std::bad_alloc *>(&error) != nullptr)
        return said(Said::OutOfMemory);
    if (const auto *failure = dynamic_cast<const CommandFailure *>(&error))
        return said(failure->said());
    return error.what();
}

RecordOutcome writeRecord(const std::filesystem::path &output, const ConversionOptions &options,
                          const std::function<std::string_view()> &source,
                          const std::function<void(const RecordProducer &)> &write)
{
    RecordOutcome outcome;
    // A failure is the record's from the moment the producer runs until the first byte reaches
    // the output; before that the output could not be looked at or opened, after it written.
    bool making = false;
    bool writing = false;
    try {
        ConversionReport report;
        write([&](RecordSink &sink) {
            making = true;
            const std::string_view bytes = source();
            NotingSink noting(sink, writing);
            report = convertRecord(bytes, options, noting);
        });
        outcome.end = report.written ? RecordOutcome::End::Written : RecordOutcome::End::HeldBack;
        // Each line of a record held back says so: without it, it would read as a plain warning.
        for (const Warning &warning : report.warnings) {
            outcome.warnings.push_back(report.written
                                           ? commandLineReason(warning)
                                           : said(Reason(Said::HeldBack, {commandLineReason(warning)})));
        }
    } catch (const TargetExists &) {
        outcome.end = RecordOutcome::End::TargetExists;
        outcome.reason = existsReason(shownPath(output));
    } catch (const RecordFailure &failure) {
        outcome.end = RecordOutcome::End::Failed;
        outcome.reason = said(failure.said());
        outcome.error = failure.error();
    } catch (const CommandFailure &failure) {
        outcome.end = RecordOutcome::End::Failed;
        outcome.error = failure.error();
        outcome.reason = making && !writing ? commandLineReason(failure)
                                            : said(cannotWriteReason(shownPath(output), failure.said()));
    } catch (const std::exception &error) {
        outcome.end = RecordOutcome::End::Failed;
        outcome.reason = failureReason(error);
    }
    return outcome;
}

} // namespace quillarn
