// ugi2sgf: converts UGI game records into SGF records from the command line, with the same
// translation as the window; by default in UTF-8, which today's SGF programs read right, and with
// --encoding cp932 the window's bytes. One file goes to standard output or -o; with -d or
// --in-place, any number of files and folders in one call.
#include "batch.h"
#include "batchplan.h"
#include "convert.h"
#include "language.h"
#include "onerecord.h"
#include "shown.h"
#include "terminal.h"
#include "text.h"
#include "version.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#endif

namespace {

namespace fs = std::filesystem;
using quillarn::Reason;
using quillarn::RecordEncoding;
using quillarn::Said;

constexpr int exitOk = 0;
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;

const char usageText[] =
    "usage: ugi2sgf [options] FILE.ugi               the record on standard output (or -o)\n"
    "       ugi2sgf [options] -                      the record from standard input, as for FILE.ugi\n"
    "       ugi2sgf [options] -d DIR PATH...         each record under DIR\n"
    "       ugi2sgf [options] --in-place PATH...     each record beside its source\n"
    "Converts UGI game records into SGF records. A PATH is a file or a folder; a folder stands for\n"
    "every *.ugi file (in any letter case) in it and its subfolders. '-o -' is standard output.\n"
    "\n"
    "  -o FILE          write the one record to FILE instead of standard output; an existing FILE\n"
    "                   is not replaced without --force (the record fails, nothing is written);\n"
    "                   a FIFO or device (/dev/stdout, >(command)) is written into as it stands\n"
    "  -d DIR           write each record to DIR as NAME.sgf, keeping the folders below each PATH\n"
    "  --in-place       write each record beside its source as NAME.sgf\n"
    "  --force          replace existing output files (without it, -d and --in-place skip and\n"
    "                   report them); a record is never written over its own source\n"
    "  -u, --update     replace an existing output file only when its source is newer (counted\n"
    "                   apart as updated)\n"
    "  --no-times       give outputs the time they are written; without it each output keeps its\n"
    "                   source's modification time, as an archive copy does\n"
    "  --encoding NAME  utf-8 (the default, with CA[UTF-8]) for SGF programs of today: most read\n"
    "                   it right, and many misread code page 932; cp932 (also shift_jis, sjis,\n"
    "                   windows-31j) writes what the window writes, code page 932 with\n"
    "                   CA[Shift_JIS], for Japanese Windows programs that read only that\n"
    "  --source-encoding NAME\n"
    "                   how sources are read: auto (the default: the reading that makes the\n"
    "                   plainer Japanese text, with a warning when the other is nearly as\n"
    "                   plain), cp932 or utf-8\n"
    "  --strict         a record with a warning (a move a Go board refuses, handicap stones that\n"
    "                   cannot be placed, a damaged move list, an encoding in doubt) fails: it\n"
    "                   is reported and not written\n"
    "  -q, --quiet      print only errors: no progress bar, warnings, notes or summary line\n"
    "  -v, --verbose    name each record that a batch skips (without it, one line counts them)\n"
    "  -h, --help       show this help and exit\n"
    "  --version        show the version and exit\n"
    "  --               end of options (for a file name that starts with '-')\n"
    "\n"
    "Each record's moves are replayed on a Go board: the first move the board refuses is reported as\n"
    "a warning ('a.ugi: move 66 (B po) is on an occupied point') and the record is still written.\n"
    "A handicap record whose first move is White's gets its handicap stones (AB) at the usual points.\n"
    "\n"
    "Exit status: 0 when no record failed, 1 when any failed, 2 for a usage error.\n";

const char usageTextJapanese[] =
    "使い方: ugi2sgf [オプション] FILE.ugi           棋譜を標準出力へ（-o でファイルへ）\n"
    "        ugi2sgf [オプション] -                  標準入力の棋譜を FILE.ugi と同じように\n"
    "        ugi2sgf [オプション] -d DIR PATH...     棋譜をそれぞれ DIR の下へ\n"
    "        ugi2sgf [オプション] --in-place PATH... 棋譜をそれぞれ変換元の隣へ\n"
    "UGI の棋譜を SGF の棋譜に変換します。PATH はファイルかフォルダーで、フォルダーはその中と\n"
    "サブフォルダーの *.ugi ファイル（大文字小文字を問わず）すべてを表します。'-o -' は標準出力です。\n"
    "\n"
    "  -o FILE          1 つの棋譜を標準出力ではなく FILE に書きます。FILE がすでにあれば --force\n"
    "                   なしでは置き換えません（その棋譜は失敗し、何も書きません）。FIFO やデバイス\n"
    "                   （/dev/stdout、>(command)）にはそのまま書き込みます\n"
    "  -d DIR           棋譜をそれぞれ DIR に NAME.sgf として書きます。各 PATH の下のフォルダーの\n"
    "                   並びは保ちます\n"
    "  --in-place       棋譜をそれぞれ変換元の隣に NAME.sgf として書きます\n"
    "  --force          変換先のファイルがあっても置き換えます（なければ -d と --in-place は飛ばして\n"
    "                   知らせます）。変換元そのものに書くことはありません\n"
    "  -u, --update     変換先のファイルがあっても、変換元のほうが新しければ置き換えます（更新として\n"
    "                   数えます）\n"
    "  --no-times       変換先の更新日時を書いた時刻にします（なければ変換先はそれぞれ変換元の更新日時\n"
    "                   を保ちます。アーカイブのコピーと同じです）\n"
    "  --encoding NAME  utf-8（標準、CA[UTF-8] 付き）は今の SGF のプログラム向けです。多くが正しく\n"
    "                   読み、コードページ 932 は読み違えるものが少なくありません。cp932（shift_jis、\n"
    "                   sjis、windows-31j でも可）はウィンドウと同じ、CA[Shift_JIS] 付きのコード\n"
    "                   ページ 932 を書きます。それしか読まない日本語の Windows のプログラム向けです\n"
    "  --source-encoding NAME\n"
    "                   変換元の読み方: auto（標準: より自然な日本語になる読み方。もう一方もほぼ同じ\n"
    "                   くらいなら警告します）、cp932、utf-8\n"
    "  --strict         警告のある棋譜（碁盤が受け付けない着手、置けない置き石、壊れた着手の並び、\n"
    "                   はっきりしない文字コード）を失敗にします。知らせて、書きません\n"
    "  -q, --quiet      エラーだけを表示します。進み具合、警告、注意、まとめの行は出しません\n"
    "  -v, --verbose    まとめて変換するときに飛ばした棋譜を 1 つずつ示します（なければ 1 行で数を\n"
    "                   示します）\n"
    "  -h, --help       この使い方を表示して終わります\n"
    "  --version        版を表示して終わります\n"
    "  --               オプションの終わり（'-' で始まるファイル名のために）\n"
    "\n"
    "棋譜の着手は碁盤に並べ直します。碁盤が受け付けない最初の着手は警告として知らせ\n"
    "（'a.ugi: 66 手目（B po） は石のある点に打たれています'）、棋譜はそれでも書きます。\n"
    "白から打つ置碁の棋譜には、決まった点に置き石（AB）を書きます。\n"
    "\n"
    "メッセージの言語は LC_ALL、LC_MESSAGES、LANG に従います（C と POSIX では英語）。\n"
    "\n"
    "終了状態: 失敗した棋譜がなければ 0、あれば 1、使い方の誤りは 2。\n";

struct Options {
    std::vector<std::string> inputs;
    std::optional<std::string> output;       // -o
    std::optional<std::string> outputFolder; // -d
    bool inPlace = false;
    bool force = false;
    bool update = false;
    bool keepTimes = true; // each output gets its source's time of last writing, as an archive copy does
    bool quiet = false;
    bool verbose = false;
    quillarn::ConversionOptions conversion{quillarn::SourceEncoding::Auto, RecordEncoding::Utf8};
};

// Returns the path a command-line argument names. Arguments are UTF-8 on every system (on Windows
// they are converted from the wide command line), so that a name in any script survives.
fs::path pathOf(const std::string &argument)
{
    return fs::u8path(argument);
}

int usageError(const quillarn::Reason &message)
{
    std::cerr << "ugi2sgf: " << quillarn::shownText(quillarn::said(message)) << "\n"
              << quillarn::said(Said::TryHelp) << "\n";
    return exitUsage;
}

// Returns name with A-Z made a-z: option values may be typed in any letter case.
std::string lowered(std::string name)
{
    for (char &c : name)
        c = quillarn::lowerAscii(c);
    return name;
}

// Returns the encoding an --encoding value names, or nothing when it names none of ours.
std::optional<RecordEncoding> encodingNamed(const std::string &typed)
{
    const std::string name = lowered(typed);
    if (name == "cp932" || name == "shift_jis" || name == "sjis" || name == "windows-31j")
        return RecordEncoding::Ansi;
    if (name == "utf-8" || name == "utf8")
        return RecordEncoding::Utf8;
    return std::nullopt;
}

// Returns the source encoding a --source-encoding value names (auto, or a name --encoding takes), or
// nothing when it names none of ours.
std::optional<quillarn::SourceEncoding> sourceEncodingNamed(const std::string &typed)
{
    if (lowered(typed) == "auto")
        return quillarn::SourceEncoding::Auto;
    const auto encoding = encodingNamed(typed);
    if (!encoding)
        return std::nullopt;
    return *encoding == RecordEncoding::Ansi ? quillarn::SourceEncoding::Cp932
                                             : quillarn::SourceEncoding::Utf8;
}

// The signal that interrupted a batch, 0 while none has. Atomic, because the workers read it;
// lock-free, because a signal handler sets it.
std::atomic<int> interruptedBy{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only use lock-free atomics");

extern "C" void interruptBatch(int signal)
{
    interruptedBy.store(signal);
    std::signal(signal, SIG_DFL); // a second one ends the program at once
}

// Lets signal interrupt a batch, unless it was ignored when the program started (nohup, a job that
// a script started in the background): then it stays ignored.
void interruptOn(int signal)
{
    if (std::signal(signal, interruptBatch) == SIG_IGN)
        std::signal(signal, SIG_IGN);
}

// Lets Ctrl+C, kill and a terminal that was closed (SIGINT, SIGTERM, SIGHUP) interrupt what runs.
void interruptOnEndingSignals()
{
    interruptOn(SIGINT);
    interruptOn(SIGTERM);
#ifdef SIGHUP
    interruptOn(SIGHUP);
#endif
}

// Ends the program as signal would have ended it, so that a calling script sees it; returns the
// status a shell shows for it, where the signal does not end it.
int endAsSignalled(int signal)
{
    std::cerr.flush();
#ifdef _WIN32
    (void)signal;
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT)); // as Ctrl+C ends any program there
#else
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return 128 + signal;
#endif
}

// Whether path is a folder, links followed; false for what cannot be looked at.
bool isFolder(const fs::path &path)
{
    quillarn::FileInfo info;
    return !quillarn::systemFileSystem().look(nullptr, quillarn::systemPath(path).c_str(), true, info) &&
           info.type == fs::file_type::directory;
}

// Whether something is at path that is not a folder (a link to one is one).
bool isThereButNoFolder(const fs::path &path)
{
    quillarn::FileInfo info;
    return !quillarn::systemFileSystem().look(nullptr, quillarn::systemPath(path).c_str(), true, info) &&
           info.type != fs::file_type::directory;
}

int convertBatch(const Options &options)
{
    std::optional<fs::path> outputFolder;
    if (options.outputFolder) {
        // A folder that cannot be made is said once, by the batch, when its first record is written.
        outputFolder = pathOf(*options.outputFolder);
        if (isThereButNoFolder(*outputFolder))
            return usageError(Reason(Said::OutputFolderIsNot, {*options.outputFolder}));
    }
    std::vector<fs::path> paths;
    for (const std::string &input : options.inputs)
        paths.push_back(pathOf(input));
    quillarn::BatchPlan plan(paths, outputFolder);

    quillarn::BatchOptions batch;
    batch.conversion = options.conversion;
    batch.outputFolder = outputFolder;
    batch.force = options.force;
    batch.update = options.update;
    batch.keepTimes = options.keepTimes;
    batch.quiet = options.quiet;
    batch.verbose = options.verbose;
    // An interruption lets the records being written finish, so that none is left half written
    // as a temporary file, and still reports what was done: Ctrl+C, kill, and a terminal that was
    // closed (SIGHUP) alike, in any phase.
    batch.interrupted = &interruptedBy;
    interruptOnEndingSignals();
    // The progress bar needs a total: the folders are walked once first to count the records,
    // which a large tree shows as it goes. An interruption then stops the walk, and the batch
    // starts nothing.
    std::size_t total = 0;
    if (!options.quiet && quillarn::standardErrorIsTerminal()) {
        batch.terminalWidth = quillarn::terminalWidth();
        quillarn::TerminalStatus walking(std::cerr, true, batch.terminalWidth);
        total = plan.count([&walking](std::size_t folders) {
                        walking.looking(folders);
                        return interruptedBy.load() == 0;
                    })
                    .value_or(0);
        batch.progress = total > 1;
    }
#ifdef SIGPIPE
    // A reader of the messages that goes away (ugi2sgf ... 2>&1 | head) makes the next message
    // fail with EPIPE, which ends the run as an interruption does, rather than killing it with
    // records half written.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    quillarn::BatchSummary summary;
    int lost = 0; // why messages could not be written (EPIPE: nobody reads them), 0 while they could
    {
        quillarn::TerminalStatus status(std::cerr, batch.progress, batch.terminalWidth);
        summary = quillarn::runBatch(plan, total, batch, status);
        lost = status.writeError();
    }
    int signal = interruptedBy.load();
    if (!options.quiet || signal != 0) {
        errno = 0;
        std::cerr << quillarn::summaryLine(summary) << "\n" << std::flush;
        if (lost == 0 && !std::cerr)
            lost = errno != 0 ? errno : EIO;
    }
#ifdef SIGPIPE
    // The reader went away: the end a pipeline expects of a writer whose reader has gone.
    if (signal == 0 && lost == EPIPE)
        signal = SIGPIPE;
#endif
    if (signal != 0)
        return endAsSignalled(signal);
    // Records left alone (after the reader went away, on Windows, or once the disk was full) are not
    // a run that did everything.
    return summary.failed == 0 && summary.notStarted == 0 && summary.notWritten == 0 ? exitOk : exitFailed;
}

// Prints the help in the language of the messages; on a console of Windows as its own characters.
void printHelp()
{
    const char *const help =
        quillarn::messageLanguage() == quillarn::Language::Japanese ? usageTextJapanese : usageText;
#ifdef _WIN32
    quillarn::StandardErrorBuffer console(true);
    std::streambuf *const previous = std::cout.rdbuf(&console);
    std::cout << help << std::flush;
    std::cout.rdbuf(previous);
#else
    std::cout << help;
#endif
}

// Runs ugi2sgf with argv in UTF-8; returns the exit status.
int run(int argc, char **argv)
{
    quillarn::chooseMessageLanguage();
#ifdef SIGXFSZ
    // A file size limit must fail the write with EFBIG, not kill the process half way.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // Returns the value of an option that takes one, from "--name=value" or the next argument.
        const auto value = [&](const std::string &name) -> std::optional<std::string> {
            if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0)
                return arg.substr(name.size() + 1);
            if (arg != name || i + 1 == argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.inputs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            printHelp();
            return exitOk;
        } else if (arg == "--version") {
            std::cout << "ugi2sgf (" QUILLARN_NAME ") " QUILLARN_VERSION "\n";
            return exitOk;
        } else if (arg == "-o") {
            const auto file = value(arg);
            if (!file || file->empty())
                return usageError(Said::OptionONeedsName);
            options.output = *file;
        } else if (arg == "-d") {
            const auto folder = value(arg);
            if (!folder || folder->empty())
                return usageError(Said::OptionDNeedsName);
            options.outputFolder = *folder;
        } else if (arg == "--in-place") {
            options.inPlace = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "-u" || arg == "--update") {
            options.update = true;
        } else if (arg == "--no-times") {
            options.keepTimes = false;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--strict") {
            options.conversion.strict = true;
        } else if (arg.compare(0, 17, "--source-encoding") == 0) {
            const auto name = value("--source-encoding");
            if (!name)
                return usageError(arg.size() == 17 ? Reason(Said::SourceEncodingNeedsName)
                                                   : Reason(Said::UnknownOption, {arg}));
            const auto encoding = sourceEncodingNamed(*name);
            if (!encoding)
                return usageError(Reason(Said::UnknownSourceEncoding, {*name}));
            options.conversion.source = *encoding;
        } else if (arg.compare(0, 10, "--encoding") == 0) {
            const auto name = value("--encoding");
            if (!name)
                return usageError(arg.size() == 10 ? Reason(Said::EncodingNeedsName)
                                                   : Reason(Said::UnknownOption, {arg}));
            const auto encoding = encodingNamed(*name);
            if (!encoding)
                return usageError(Reason(Said::UnknownEncoding, {*name}));
            options.conversion.output = *encoding;
        } else {
            return usageError(Reason(Said::UnknownOption, {arg}));
        }
    }

    if (options.inputs.empty())
        return usageError(Said::NoInputFile);
    const bool batch = options.outputFolder || options.inPlace;
    if (options.outputFolder && options.inPlace)
        return usageError(Said::FolderOrInPlace);
    if (options.output && batch)
        return usageError(Said::OneRecordOnly);
    if (batch) {
        for (const std::string &input : options.inputs) {
            if (input == quillarn::standardStream)
                return usageError(Said::StandardInputInBatch);
        }
        return convertBatch(options);
    }
    if (options.inputs.size() > 1)
        return usageError(options.output ? Said::OutputTakesOneInput : Said::SeveralInputs);
    if (options.output == quillarn::standardStream)
        options.output.reset();
    if (options.inputs.front() != quillarn::standardStream && isFolder(pathOf(options.inputs.front())))
        return usageError(Reason(Said::InputIsAFolder, {options.inputs.front()}));
    quillarn::OneRecord record;
    record.input = options.inputs.front();
    record.output = options.output;
    record.force = options.force;
    record.update = options.update;
    record.keepTime = options.keepTimes;
    record.quiet = options.quiet;
    record.conversion = options.conversion;
    if (!record.output)
        return quillarn::convertOneRecord(record) ? exitOk : exitFailed;
    // A record on its way to a file is finished, put in place or removed, before a signal ends the
    // program, as in a batch: no temporary file stays. A second signal ends it at once.
    interruptOnEndingSignals();
#ifdef SIGPIPE
    interruptOn(SIGPIPE);
#endif
    const bool converted = quillarn::convertOneRecord(record);
    if (const int signal = interruptedBy.load(); signal != 0)
        endAsSignalled(signal);
    return converted ? exitOk : exitFailed;
}

#ifdef _WIN32

} // namespace

// The wide command line holds names in any script; it is taken as UTF-8 from here on.
int wmain(int argc, wchar_t **wideArgv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wideArgv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wideArgv[i], -1, argument.data(), size, nullptr, nullptr);
        argument.pop_back(); // the terminating NUL
        arguments.push_back(std::move(argument));
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    quillarn::StandardErrorBuffer standardError;
    std::streambuf *const previous = std::cerr.rdbuf(&standardError);
    const int status = run(argc, argv.data());
    std::cerr.flush();
    std::cerr.rdbuf(previous);
    return status;
}

#else

} // namespace

int main(int argc, char **argv)
{
    return run(argc, argv);
}

#endif
