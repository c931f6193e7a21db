// The dialog layer: message box codes, the filter text, and the file dialog's listing and cancel.
#include "dialogs.h"
#include "driver.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace quillarn;

TEST(MsgBox, AnswersWithTheButtonCodesAndTakesAClosedQuestionAsNo)
{
    const auto answer = [](MsgBoxStyle style, QMessageBox::StandardButton button) {
        int code = 0;
        const QStringList log =
            ModalDriver().press(button).run([&] { code = msgBox(nullptr, u"q"_s, style); });
        return log.value(0) + u' ' + QString::number(code);
    };
    EXPECT_EQ(answer(MsgBoxStyle::YesNoQuestion, QMessageBox::Yes), u"question q 6"_s);
    EXPECT_EQ(answer(MsgBoxStyle::YesNoQuestion, QMessageBox::No), u"question q 7"_s);
    EXPECT_EQ(answer(MsgBoxStyle::YesNoQuestion, QMessageBox::NoButton), u"question q 7"_s);
    EXPECT_EQ(answer(MsgBoxStyle::OkOnly, QMessageBox::Ok), u"message q 1"_s);
}

TEST(MsgBox, ButtonsSpeakJapanese)
{
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), u"はい(&Y)"_s);
    EXPECT_EQ(box.button(QMessageBox::No)->text(), u"いいえ(&N)"_s);
}

TEST(FileDialog, TranslatesTheFilterText)
{
    EXPECT_EQ(nameFilters(u"UGIﾌｧｲﾙ(*.ugi)|*.ugi|すべてのﾌｧｲﾙ(*.*)|*.*"_s),
              (QStringList{u"UGIﾌｧｲﾙ(*.ugi) (*.ugi)"_s, u"すべてのﾌｧｲﾙ(*.*) (*)"_s}));
    EXPECT_EQ(nameFilters(u"Go|*.ugi;*.TXT|no pattern"_s), QStringList{u"Go (*.ugi *.TXT)"_s});
}

TEST(FileDialog, ListsMatchesInAnyLetterCaseAndKeepsTheNameWhenCancelled)
{
    QTemporaryDir dir;
    for (const QString &name : {u"A.UGI"_s, u"b.ugi"_s, u"c.txt"_s})
        writeFile(dir.filePath(name), "x");
    CommonDialog dlg1(nullptr);
    dlg1.Filter = u"UGIﾌｧｲﾙ(*.ugi)|*.ugi|すべてのﾌｧｲﾙ(*.*)|*.*"_s;
    dlg1.FilterIndex = 1;
    dlg1.FileName = dir.filePath(u"b.ugi"_s);

    QString filterShown;
    QStringList listed;
    const auto inspect = [&](QFileDialog *dialog) {
        filterShown = dialog->findChild<QComboBox *>(u"fileTypeCombo"_s)->currentText();
        const auto *model = dialog->findChild<QFileSystemModel *>();
        const QModelIndex folder = model->index(dir.path());
        QElapsedTimer waited; // the model lists the folder in a thread of its own
        waited.start();
        while (model->rowCount(folder) < 2 && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (int row = 0; row < model->rowCount(folder); ++row)
            listed << model->index(row, 0, folder).data().toString();
        listed.sort();
    };
    bool cancelled = false;
    ModalDriver().cancel(inspect).run([&] {
        try {
            dlg1.ShowOpen();
        } catch (const DialogCancelled &) {
            cancelled = true;
        }
    });
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(filterShown, u"UGIﾌｧｲﾙ(*.ugi)"_s);
    EXPECT_EQ(listed, (QStringList{u"A.UGI"_s, u"b.ugi"_s}));
    EXPECT_EQ(dlg1.FileName, dir.filePath(u"b.ugi"_s));
}
