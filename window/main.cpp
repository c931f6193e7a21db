// Starts Quillarn: the window, with Qt's own buttons and file dialogs in Japanese. A file named on
// the command line is taken as if chosen with ﾌｧｲﾙ ▸ 開く. Every option that ends the program
// (--help, --help-all, --version, a mistake) is answered before the window exists, so without a
// display too.
#include "dialogs.h"
#include "frmmain.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <vector>

namespace {

// The options of quillarn. Qt's own (-platform, -style, ...) are added by QApplication.
void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Converts a Go game record from the UGI text format into an SGF record, in a small "
                       "window with a Japanese interface.\nFor scripts and whole archives, use ugi2sgf."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("A .ugi record to choose at start, as with File > Open."),
                                 QStringLiteral("[FILE]"));
}

void nameApplication()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(QUILLARN_NAME));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(QUILLARN_VERSION));
}

// Answers every command line that ends the program without the window, which would need a display:
// --help and --version (status 0), --help-all, and a mistake such as an unknown option (Qt's message,
// status 1). Returns when the window is to open.
void answerWithoutWindow(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    describeOptions(parser);
    // Qt's own options (-platform, -style, ...) are unknown here and make parse() fail; it still
    // sees ours.
    const bool onlyOurs = parser.parse(arguments);
    const bool help = parser.isSet(QStringLiteral("help"));
    const bool version = parser.isSet(QStringLiteral("version"));
    if (onlyOurs && !parser.isSet(QStringLiteral("help-all"))) {
        if (!help && !version)
            return;
        const QCoreApplication core(argc, argv);
        nameApplication();
        if (help)
            parser.showHelp(0);
        parser.showVersion();
    }
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Only a QApplication tells Qt's options from mistakes, and lists them for --help-all. One on
    // Qt's minimal platform needs no display (the last -platform given counts); it ends the
    // program unless the arguments hold nothing but Qt's options and ours.
    static char platformOption[] = "-platform";
    static char minimal[] = "minimal";
    std::vector<char *> minimalArgv(argv, argv + argc);
    minimalArgv.push_back(platformOption);
    minimalArgv.push_back(minimal);
    minimalArgv.push_back(nullptr);
    int minimalArgc = argc + 2;
    const QApplication app(minimalArgc, minimalArgv.data());
    nameApplication();
    QCommandLineParser qtParser;
    describeOptions(qtParser);
    qtParser.process(app);
#endif
    // Elsewhere the window's platform is always there: the window's own parse answers them.
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A file size limit must fail the save with a message, not end the program half way.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    answerWithoutWindow(argc, argv);

    QApplication app(argc, argv);
    nameApplication();
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(app);
    quillarn::useJapaneseQt(app);

    quillarn::frmMain window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    if (const QStringList files = parser.positionalArguments(); !files.isEmpty())
        window.chooseSource(QFileInfo(files.first()).absoluteFilePath());
    return QApplication::exec();
}
