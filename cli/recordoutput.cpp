// The outcomes and reasons of recordoutput.h.
#include "recordoutput.h"

#include "hints.h"
#include "shown.h"

#include <new>

namespace quillarn {

namespace {

const char heldBackNote[] = "; not written (--strict)";

} // namespace

std::string existsReason(const std::string &output)
{
    return output + " exists (--force replaces it)";
}

std::string folderReason(const std::string &output)
{
    return cannotWriteReason(output, "it is a folder");
}

std::string failureReason(const std::exception &error)
{
    if (dynamic_cast<const std::bad_alloc *>(&error) != nullptr)
        return "out of memory";
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
        for (const Warning &warning : report.warnings)
            outcome.warnings.push_back(commandLineReason(warning) + (report.written ? "" : heldBackNote));
    } catch (const TargetExists &) {
        outcome.end = RecordOutcome::End::TargetExists;
        outcome.reason = existsReason(shownPath(output));
    } catch (const RecordFailure &failure) {
        outcome.end = RecordOutcome::End::Failed;
        outcome.reason = failure.reason();
        outcome.error = failure.error();
    } catch (const CommandFailure &failure) {
        outcome.end = RecordOutcome::End::Failed;
        outcome.error = failure.error();
        outcome.reason = making && !writing ? commandLineReason(failure)
                                            : cannotWriteReason(shownPath(output), failure.reason());
    } catch (const std::exception &error) {
        outcome.end = RecordOutcome::End::Failed;
        outcome.reason = failureReason(error);
    }
    return outcome;
}

} // namespace quillarn
