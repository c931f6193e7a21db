// ugi2sgf: converts a UGI game record into an SGF record from the command line, with the same
// translation and the same output bytes as the window's save step.
#include "codepage.h"
#include "recordfile.h"
#include "text.h"
#include "translation.h"
#include "version.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int exitOk = 0;
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;

const char usageText[] = "usage: ugi2sgf [-o OUT.sgf] FILE.ugi\n"
                         "Converts a UGI game record into an SGF record (code page 932, CR LF).\n"
                         "\n"
                         "  -o FILE     write the record to FILE instead of standard output\n"
                         "  -h, --help  show this help and exit\n"
                         "  --version   show the version and exit\n"
                         "  --          end of options (for a file name that starts with '-')\n";

struct Options {
    std::string input;
    std::optional<std::string> output;
};

int usageError(const std::string &message)
{
    std::cerr << "ugi2sgf: " << message << "\n" << "Try 'ugi2sgf --help'.\n";
    return exitUsage;
}

// Writes all of bytes to standard output; raises CommandFailure with the system's reason.
void writeStandardOutput(const std::string &bytes)
{
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
        throw quillarn::CommandFailure(std::strerror(errno));
}

int convert(const Options &options)
{
    try {
        const std::u16string record = quillarn::translateRecord(quillarn::readSourceFile(options.input));
        if (options.output)
            quillarn::writeRecordFile(*options.output, record);
        else
            writeStandardOutput(quillarn::recordFileBytes(record));
        return exitOk;
    } catch (const quillarn::CommandFailure &failure) {
        std::cerr << options.input << ": " << failure.reason() << "\n";
        return exitFailed;
    } catch (const std::bad_alloc &) {
        std::cerr << options.input << ": out of memory\n";
        return exitFailed;
    }
}

} // namespace

int main(int argc, char **argv)
{
#ifdef SIGXFSZ
    // A file size limit must fail the write with EFBIG, not kill the process half way.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    Options options;
    std::vector<std::string> inputs;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            inputs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << usageText;
            return exitOk;
        } else if (arg == "--version") {
            std::cout << QUILLARN_NAME " " QUILLARN_VERSION "\n";
            return exitOk;
        } else if (arg == "-o") {
            if (++i == argc)
                return usageError("option -o needs a file name");
            options.output = argv[i];
        } else {
            return usageError("unknown option " + arg);
        }
    }
    if (inputs.size() != 1)
        return usageError(inputs.empty() ? "no input file" : "one input file only");
    options.input = inputs.front();
    return convert(options);
}
