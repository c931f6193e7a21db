// Starts Quillarn: the window, with Qt's own buttons and file dialogs in Japanese. A file named on
// the command line is taken as if chosen with ﾌｧｲﾙ ▸ 開く. Every option that ends the program
// (--help, --help-all, --version, a mistake) is answered before the window exists, so without a
// display too; without one, the window's start says so in one line instead of Qt's abort.
#include "dialogs.h"
#include "frmmain.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

using namespace Qt::Literals::StringLiterals;

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
                                 QStringLiteral("A .ugi record to choose at start, as with ﾌｧｲﾙ ▸ 開く."),
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
    // A last -platform without a name, which Qt ignores, would take the one below for its name.
    const std::string_view last = argc > 1 ? argv[argc - 1] : "";
    if (last == "-platform" || last == "--platform")
        minimalArgv.pop_back();
    minimalArgv.push_back(platformOption);
    minimalArgv.push_back(minimal);
    int minimalArgc = static_cast<int>(minimalArgv.size());
    minimalArgv.push_back(nullptr);
    const QApplication app(minimalArgc, minimalArgv.data());
    nameApplication();
    QCommandLineParser qtParser;
    describeOptions(qtParser);
    qtParser.process(app);
#endif
    // Elsewhere the window's platform is always there: the window's own parse answers them.
}

// What Qt says while its platform plugin starts is held until the start has succeeded or failed.
struct HeldMessage {
    QtMsgType type;
    QByteArray category; // a copy: the category of a plugin that failed may go with the plugin
    QString text;
};
std::vector<HeldMessage> heldMessages;
QtMessageHandler qtMessageHandler = nullptr;
QStringList startArguments;

void showHeldMessages()
{
    for (const HeldMessage &message : heldMessages) {
        const QMessageLogContext context(nullptr, 0, nullptr,
                                         message.category.isNull() ? nullptr : message.category.constData());
        qtMessageHandler(message.type, context, message.text);
    }
    heldMessages.clear();
}

// Returns the platform that the arguments or QT_QPA_PLATFORM ask Qt for, as the user wrote it
// ("-platform NAME", "QT_QPA_PLATFORM=NAME"; the last -platform counts, as for Qt), or an empty
// string for Qt's default, and sets platforms to the plugins it names.
QString askedPlatform(QStringList &platforms)
{
    QString asked;
    QString names = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!names.isEmpty())
        asked = u"QT_QPA_PLATFORM="_s + names;
    for (qsizetype i = 1; i + 1 < startArguments.size(); ++i) {
        if (startArguments[i] == u"-platform"_s || startArguments[i] == u"--platform"_s) {
            asked = startArguments[i] + u' ' + startArguments[i + 1];
            names = startArguments[++i];
        }
    }
    // "wayland;xcb" tries each in turn; "xcb:OPTIONS" gives a plugin its options.
    platforms.clear();
    for (const QString &entry : names.split(u';', Qt::SkipEmptyParts))
        platforms.append(entry.section(u':', 0, 0));
    return asked;
}

// Returns the displays that the environment names, as "DISPLAY=:0", or an empty list.
QStringList namedDisplays()
{
    QStringList displays;
    for (const char *name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        if (const QString value = qEnvironmentVariable(name); !value.isEmpty())
            displays.append(QString::fromLatin1(name) + u'=' + value);
    }
    return displays;
}

void sayOnStandardError(const QString &line)
{
    std::fputs((line + u'\n').toLocal8Bit().constData(), stderr);
}

// Ends the program when Qt could not start its platform plugin, which Qt reports in a fatal message
// after its warnings. With no display named, and only a windowing system asked for (Qt's default
// is one: X11, or Wayland first in a Wayland session), one line says so; otherwise Qt's reasons are
// shown, then what could not be used. Qt's closing advice to reinstall the program is left out
// (a display, a platform name or a plugin's library is missing, not the program).
[[noreturn]] void failStart(const QMessageLogContext &context, const QString &fatal)
{
    QStringList platforms;
    const QString asked = askedPlatform(platforms);
    const QStringList displays = namedDisplays();
    const bool windowingSystem =
        std::all_of(platforms.cbegin(), platforms.cend(), [](const QString &platform) {
            return platform == u"xcb"_s || platform.startsWith(u"wayland"_s);
        });
    const QString ugi2sgf = u"; ugi2sgf converts without a display"_s;
    if (displays.isEmpty() && windowingSystem) {
        sayOnStandardError(u"quillarn: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)"_s +
                           ugi2sgf);
    } else {
        showHeldMessages();
        QStringList paragraphs = fatal.split(u"\n\n"_s, Qt::SkipEmptyParts);
        paragraphs.removeIf([](const QString &paragraph) {
            return paragraph.contains(u"Reinstalling the application may fix this problem"_s);
        });
        if (!paragraphs.isEmpty())
            qtMessageHandler(QtCriticalMsg, context, paragraphs.join(u"\n\n"_s).trimmed());
        const QString where = asked.isEmpty() ? u"on "_s + displays.join(u" or "_s) : u"with "_s + asked;
        sayOnStandardError(u"quillarn: the window cannot open "_s + where + u" (Qt says why above)"_s +
                           ugi2sgf);
    }
    std::fflush(stderr);
    // Qt is half started: nothing of it is cleaned up.
    std::_Exit(1);
}

void holdStartMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg)
        failStart(context, text);
    heldMessages.push_back({type, QByteArray(context.category), text});
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A file size limit must fail the save with a message, not end the program half way.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    answerWithoutWindow(argc, argv);

    for (int i = 0; i < argc; ++i)
        startArguments.append(QString::fromLocal8Bit(argv[i]));
    // Held back, a warning that Qt is told to make fatal would end the program unsaid.
    const bool fatalWarnings =
        qEnvironmentVariableIsSet("QT_FATAL_WARNINGS") || qEnvironmentVariableIsSet("QT_FATAL_CRITICALS");
    qtMessageHandler = qInstallMessageHandler(fatalWarnings ? nullptr : holdStartMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtMessageHandler);
    showHeldMessages();
    nameApplication();
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(app);
    quillarn::useJapaneseQt(app);

    quillarn::frmMain window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    if (const QStringList files = parser.positionalArguments(); !files.isEmpty())
        window.chooseSource(QDir().absoluteFilePath(files.first())); // as given, made absolute
    return QApplication::exec();
}
