// The window itself: its fixed layout, its menu table, the version box and exit.
#include "driver.h"
#include "frmmain.h"
#include "pathlabel.h"
#include "version.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using quillarn::frmMain;

TEST(Window, HasItsFixedLayoutAndCannotBeResized)
{
    frmMain window;
    window.show();
    EXPECT_EQ(window.windowTitle(), u"Quillarn"_s);
    EXPECT_EQ(window.windowIcon().availableSizes(), QList<QSize>{QSize(32, 32)});
    EXPECT_EQ(window.centralWidget()->size(), QSize(473, 130));
    const QSize size = window.size();
    window.resize(size * 2);
    EXPECT_EQ(window.size(), size);

    const struct {
        QString name;
        QString caption;
        QRect geometry;
    } labels[] = {
        {u"lblHenkanmoto"_s, u"変換元ﾌｧｲﾙ"_s, {16, 16, 73, 25}},
        {u"lblPath(0)"_s, QString(), {108, 8, 353, 37}},
        {u"lblHenkansaki"_s, u"変換先ﾌｧｲﾙ"_s, {16, 64, 73, 25}},
        {u"lblPath(1)"_s, QString(), {108, 56, 353, 37}},
    };
    for (const auto &expected : labels) {
        const auto *label = window.centralWidget()->findChild<QLabel *>(expected.name);
        ASSERT_TRUE(label) << expected.name.toStdString();
        EXPECT_EQ(label->text(), expected.caption);
        EXPECT_EQ(label->geometry(), expected.geometry) << expected.name.toStdString();
    }
    EXPECT_EQ(window.findChild<QLabel *>(u"lblPath(1)"_s)->frameShadow(), QFrame::Sunken);
}

TEST(Window, HasTheMenuTableWithoutShortcutKeys)
{
    frmMain window;
    QStringList table;
    for (QAction *menu : window.menuBar()->actions()) {
        table << menu->text();
        for (QAction *item : menu->menu()->actions()) {
            table << u"  "_s + (item->isSeparator() ? u"-"_s : item->text()) +
                         (item->isEnabled() ? u""_s : u" (greyed)"_s) + item->shortcut().toString();
        }
    }
    EXPECT_EQ(table, (QStringList{
                         u"ﾌｧｲﾙ(&F)"_s,
                         u"  開く(&O)"_s,
                         u"  名前を付けて保存(&A)... (greyed)"_s,
                         u"  -"_s,
                         u"  終了(&X)"_s,
                         u"変換(&C)"_s,
                         u"  UGI→SGF"_s,
                         u"ﾍﾙﾌﾟ"_s,
                         u"  ﾊﾞｰｼﾞｮﾝ(&V)..."_s,
                     }));
}

TEST(Window, VersionBoxShowsTheSameFiveLinesEveryTime)
{
    frmMain window;
    const QString text = u"Quillarn\r\n      Version "_s + QString::fromLatin1(QUILLARN_VERSION) +
                         u"\r\n\r\nUGI形式の囲碁の棋譜をSGF形式に変換します\r\n      2000-10-24"_s;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ModalDriver().press().run([&] { menuItem(window, 2, 0)->trigger(); }),
                  QStringList{u"message "_s + text});
    }
}

TEST(Window, ExitEndsTheProgramAtOnce)
{
    frmMain window;
    window.show();
    QTimer::singleShot(0, menuItem(window, 0, 3), &QAction::trigger);
    QTimer guard; // fails the test instead of hanging it
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST(PathField, ShowsTheEndOfALongPathInsideItsBoxButKeepsItWhole)
{
    quillarn::PathLabel field;
    field.setGeometry(108, 8, 353, 37);
    const QString path = u"/"_s + u"棋譜のフォルダ/"_s.repeated(30) + u"kisei.ugi"_s;
    field.setText(path);
    EXPECT_EQ(field.text(), path); // the commands read the caption back
    const QString shown = field.shownText();
    EXPECT_TRUE(shown.startsWith(u'…') && shown.endsWith(u"/kisei.ugi")) << shown.toStdString();
    const QRect box = field.contentsRect();
    EXPECT_LE(field.fontMetrics().boundingRect(box, Qt::TextWrapAnywhere, shown).height(), box.height());

    field.setText(u"/home/a.ugi"_s);
    EXPECT_EQ(field.shownText(), u"/home/a.ugi"_s);
}
