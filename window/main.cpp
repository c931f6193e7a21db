// Starts Quillarn: the window, with Qt's own buttons and file dialogs in Japanese. A file named on
// the command line is taken as if chosen with ﾌｧｲﾙ ▸ 開く.
#include "dialogs.h"
#include "frmmain.h"
#include "version.h"

#include <QApplication>
#include <QFileInfo>

#include <csignal>

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A file size limit must fail the save with a message, not end the program half way.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(QUILLARN_NAME));
    QApplication::setApplicationVersion(QString::fromLatin1(QUILLARN_VERSION));
    quillarn::useJapaneseQt(app);

    quillarn::frmMain window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    if (const QStringList args = QApplication::arguments(); args.size() > 1)
        window.chooseSource(QFileInfo(args.at(1)).absoluteFilePath());
    return QApplication::exec();
}
