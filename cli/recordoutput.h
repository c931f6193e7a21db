// A record converted into its output, and what ugi2sgf says when that fails: one place for the
// record written alone (ugi2sgf FILE, -o) and for each record of a batch, so that both fail in the
// same words, and a message names the output only when the output is what failed.
#pragma once

#include "convert.h"
#include "recordfile.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

// The reason of a record whose output (as messages show it) is there and is kept:
// "OUTPUT exists (--force replaces it)".
std::string existsReason(const std::string &output);

// The reason of a record whose output (as messages show it) is a folder, which no option replaces:
// "cannot write OUTPUT: it is a folder".
std::string folderReason(const std::string &output);

// The reason a message gives for error: "out of memory" for std::bad_alloc, what() for any other
// (a CommandFailure's reason).
std::string failureReason(const std::exception &error);

// A failure of the record's own wherever it comes, with its whole reason: the folder of its output
// could not be made ("cannot create folder FOLDER: REASON"), which happens once the record is
// converted, after its bytes went to the writer.
class RecordFailure : public CommandFailure {
public:
    using CommandFailure::CommandFailure;
};

// How a record's conversion into its output ended.
struct RecordOutcome {
    enum class End {
        Written,
        HeldBack,     // options.strict held the record back for its warnings: nothing written
        TargetExists, // the output is there and was kept
        Failed,
    };
    End end = End::Written;
    std::string reason;    // TargetExists and Failed: what the message says
    std::error_code error; // Failed: the system's error behind it, when there is one
    // Written and HeldBack, each as the message says it; for HeldBack with "; not written (--strict)"
    std::vector<std::string> warnings;
};

// Converts the record whose bytes source returns and writes it through write, which looks at the
// output, opens it and then calls the producer it is given. The producer calls source, so that an
// output that is kept costs no read. A failure of source (the record cannot be read) or of the
// conversion is the record's and keeps its reason, with the option to try after a reason of a kind
// that has one (commandLineReason), as its warnings have, and a RecordFailure keeps its reason
// whenever it comes; any other failure of write before the producer runs (the output cannot be
// looked at or opened) or once bytes have gone to the output names the output (shownPath):
// "cannot write OUTPUT: REASON". Raises nothing.
RecordOutcome writeRecord(const std::filesystem::path &output, const ConversionOptions &options,
                          const std::function<std::string_view()> &source,
                          const std::function<void(const RecordProducer &)> &write);

} // namespace quillarn
