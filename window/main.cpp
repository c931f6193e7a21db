// Starts Quillarn: the window, with Qt's own buttons and file dialogs in Japanese. A file named on
// the command line is taken as if chosen with ﾌｧｲﾙ ▸ 開く. --help and --version print and end
// before the window exists, so they work without a display.
#include "dialogs.h"
#include "frmmain.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>

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

// Answers --help and --version without a window, which would need a display: looks for them in
// the raw arguments and, when one is there, prints its text and ends the program with status 0.
void answerHelpOrVersion(int &argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    describeOptions(parser);
    // Qt's own options are unknown here and make parse() fail; it still sees ours.
    parser.parse(arguments);
    const bool help = parser.isSet(QStringLiteral("help"));
    if (!help && !parser.isSet(QStringLiteral("version")))
        return;
    const QCoreApplication core(argc, argv);
    nameApplication();
    if (help)
        parser.showHelp(0);
    parser.showVersion();
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A file size limit must fail the save with a message, not end the program half way.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    answerHelpOrVersion(argc, argv);

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
