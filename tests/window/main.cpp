// Runs the window tests on Qt's offscreen platform, so that they and their discovery at build time
// need no display, with Qt's Japanese translation loaded as the program loads it, in a Japanese
// locale when the system has one.
#include "dialogs.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

namespace {

QtMessageHandler qtHandler = nullptr;

// Drops the warning the offscreen platform gives for every fixed-size window; the rest passes on.
void filterMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message != u"This plugin does not support propagateSizeHints()")
        qtHandler(type, context, message);
}

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's file dialog keeps its history in Qt's settings: here, not in the user's.
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    // As a Japanese user runs the window, whose locale would translate the system's reasons.
    if (std::setlocale(LC_ALL, "ja_JP.UTF-8") != nullptr)
        qputenv("LC_ALL", "ja_JP.UTF-8");
    qtHandler = qInstallMessageHandler(filterMessages);
    QApplication app(argc, argv);
    quillarn::useJapaneseQt(app);
    return RUN_ALL_TESTS();
}
