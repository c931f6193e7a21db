// The one record of onerecord.h.
#include "onerecord.h"

#include "batchplan.h"
#include "language.h"
#include "recordoutput.h"
#include "shown.h"
#include "terminal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace quillarn {

namespace fs = std::filesystem;

namespace {

// Standard output as the sink of a record: a terminal set to UTF-8 shows code page 932 garbled, so
// before the first bytes of such a record reach one, a line on standard error says so (unless
// quiet); the bytes stay as asked for. Raises CommandFailure with the system's reason.
class StandardOutput : public RecordSink {
public:
    explicit StandardOutput(bool noteCodePage932) : note_(noteCodePage932) {}

    void write(std::string_view bytes) override
    {
        if (note_ && standardOutputIsTerminal())
            std::cerr << "ugi2sgf: " << said(Said::Cp932OnTerminal) << "\n";
        note_ = false;
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
            throw CommandFailure(std::error_code(errno, std::generic_category()));
    }

    // Writes out what is buffered.
    void flush()
    {
        if (std::fflush(stdout) != 0)
            throw CommandFailure(std::error_code(errno, std::generic_category()));
    }

private:
    bool note_;
};

// Returns all of standard input. Raises CommandFailure with the system's reason, or when it holds
// more than a source file may (maxSourceBytes).
std::string readStandardInput()
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    constexpr auto maxBytes = static_cast<std::size_t>(maxSourceBytes);
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, stdin);
        bytes.append(chunk, got);
        if (bytes.size() > maxBytes)
            throw CommandFailure(Reason(Said::MoreThanBytes, {std::to_string(maxBytes)}));
        if (got < sizeof chunk)
            break;
    }
    if (std::ferror(stdin))
        throw CommandFailure(std::error_code(errno, std::generic_category()));
    return bytes;
}

// What standard output is to the source of a record that goes there.
enum class OutputOnSource {
    No,          // another file, a pipe, a terminal, ...
    Emptied,     // the source, emptied by the shell before the program ran ("> SOURCE")
    WrittenInto, // the source, which the record would be added to (">> SOURCE")
};

// Tells whether standard output is the regular file input names (standard input's for
// standardStream), the same file under any name. Raises nothing: what cannot be looked at is No.
OutputOnSource standardOutputOnSource(const std::string &input)
{
    FileInfo out;
    FileInfo in;
    bool appending = false;
    bool ignored = false;
    if (lookAtStream(StandardStream::Output, out, appending) || out.type != fs::file_type::regular)
        return OutputOnSource::No;
    if (input == standardStream ? lookAtStream(StandardStream::Input, in, ignored) ||
                                      in.device != out.device || in.file != out.file
                                : !streamIsFile(StandardStream::Output, fs::u8path(input)))
        return OutputOnSource::No;
    // ">>" opens for appending and empties nothing.
    return out.size == 0 && !appending ? OutputOnSource::Emptied : OutputOnSource::WrittenInto;
}

// The reason of a record whose standard output is its source: the shell's redirection has emptied
// it already, or the record would be added to it.
std::string outputOnSourceReason(const std::string &input, OutputOnSource how)
{
    const Reason source = input == standardStream ? Reason(Said::StandardInputFile) : Reason(input);
    return said(
        Reason(how == OutputOnSource::Emptied ? Said::StandardOutputEmptied : Said::StandardOutputWrittenInto,
               {source}));
}

} // namespace

bool convertOneRecord(const OneRecord &record)
{
    const std::string &input = record.input;
    // A reason may name the output, or quote the record: shown escaped, as the input.
    const auto fail = [&input](const std::string &reason) {
        std::cerr << shownText(input) << ": " << shownText(reason) << "\n";
        return false;
    };
    // Arguments are UTF-8 on every system (on Windows they are converted from the wide command
    // line), so that a name in any script survives.
    const std::optional<fs::path> output =
        record.output ? std::optional<fs::path>(fs::u8path(*record.output)) : std::nullopt;
    ReadBuffer buffer;
    std::string standardInput;
    std::string_view source;
    std::chrono::system_clock::time_point written; // the source's time of last writing
    bool replace = record.force;                   // an output that is there is replaced
    try {
        if (output) {
            // The one output the user named: never the source itself, standard input included, and
            // never a file that is there already unless they said so (a FIFO or a device is written
            // into, not replaced).
            if (input == standardStream ? streamIsFile(StandardStream::Input, *output)
                                        : isSourceItself(fs::u8path(input), *output))
                return fail(said(outputIsSourceReason(*record.output)));
            FileSystem &system = systemFileSystem();
            FileInfo info;
            if (!system.look(nullptr, systemPath(*output).c_str(), true, info) &&
                info.type == fs::file_type::directory)
                return fail(folderReason(*record.output));
            FileInfo source;
            const bool older = record.update && input != standardStream &&
                               !system.look(nullptr, systemPath(*output).c_str(), true, info) &&
                               !system.look(nullptr, systemPath(fs::u8path(input)).c_str(), true, source) &&
                               source.modified > info.modified;
            replace = record.force || older;
            if (!replace && !system.look(nullptr, systemPath(*output).c_str(), false, info) &&
                !isWrittenInto(*output)) {
                // What no --force would write (a socket, another user's link) is said as such.
                const Reason refused = refusedTargetReason(*output);
                return fail(refused.empty() ? existsReason(*record.output)
                                            : said(cannotWriteReason(*record.output, refused)));
            }
        } else if (const OutputOnSource how = standardOutputOnSource(input); how != OutputOnSource::No) {
            return fail(outputOnSourceReason(input, how));
        }
        source = input == standardStream
                     ? std::string_view(standardInput = readStandardInput())
                     : readFileInto(systemFileSystem(), fs::u8path(input), buffer, &written);
    } catch (const std::exception &error) {
        return fail(failureReason(error));
    }
    const auto read = [source] { return source; };
    RecordOutcome outcome;
    if (output) {
        // Written straight into the temporary file, which only a record that converts creates.
        LeftoverTemporaries leftovers;
        WriteOptions write;
        write.existing = replace ? ExistingTarget::Replace : ExistingTarget::Keep;
        if (record.keepTime && input != standardStream)
            write.modified = written;
        outcome = writeRecord(*output, record.conversion, read, [&](const RecordProducer &produce) {
            writeFileAtomically(*output, produce, leftovers, write);
        });
    } else {
        StandardOutput standardOutput(record.conversion.output == RecordEncoding::Ansi && !record.quiet);
        // Named in a message as "cannot write standard output: REASON".
        outcome = writeRecord(fs::u8path(said(Said::StandardOutputName)), record.conversion, read,
                              [&](const RecordProducer &produce) {
                                  produce(standardOutput);
                                  standardOutput.flush();
                              });
    }
    if (outcome.end == RecordOutcome::End::TargetExists || outcome.end == RecordOutcome::End::Failed)
        return fail(outcome.reason);
    for (const std::string &warning : outcome.warnings) {
        if (!record.quiet || record.conversion.strict)
            std::cerr << shownText(input) << ": " << shownText(warning) << "\n";
    }
    return outcome.end == RecordOutcome::End::Written;
}

} // namespace quillarn
