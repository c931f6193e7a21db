// What the window tests share: ModalDriver, which answers the modal dialogs a command opens and logs
// what they showed, and small helpers for menus and files.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <ostream>

class QAction;
class QMainWindow;

// Lets GoogleTest print QString and QStringList values in failures.
inline void PrintTo(const QString &s, std::ostream *out)
{
    *out << '"' << s.toStdString() << '"';
}

// Answers the modal dialogs of a command. The command runs inside each dialog's own event loop, so
// the answers come from a timer polling QApplication::activeModalWidget(). Each dialog is logged:
//   "message TEXT"   an OK box without icon, titled Quillarn ("message TEXT | DETAIL" with a
//                    detailed text);
//   "question TEXT"  a Yes/No box with the question icon and No the default, titled Quillarn;
//   "open PATH", "save PATH"  a file dialog, with the path it proposed on opening;
//   "unexpected ..." a dialog that no step expected (it is closed), and "missing ..." a step whose
//   dialog never came. Any other message box is logged with all its parts.
class ModalDriver {
public:
    using Inspect = std::function<void(QFileDialog *)>;

    // The next dialog is a message box; button is pressed (NoButton: the box is closed instead).
    ModalDriver &press(QMessageBox::StandardButton button = QMessageBox::Ok);
    // The next dialog is a file dialog: path is typed in and accepted.
    ModalDriver &type(const QString &path, Inspect inspect = {});
    // The next dialog is a file dialog, and it is cancelled.
    ModalDriver &cancel(Inspect inspect = {});
    // The next dialog is a file dialog, accepted with the name it proposes (as by pressing Enter).
    ModalDriver &accept(Inspect inspect = {});

    // Runs command to its end, answering its dialogs in order; returns the log.
    QStringList run(const std::function<void()> &command);

private:
    struct Step {
        bool file;
        QMessageBox::StandardButton button;
        QString path; // empty: cancel, unless asProposed
        Inspect inspect;
        bool asProposed = false;
    };

    void answer(QWidget *modal);

    std::deque<Step> steps;
    QStringList log;
};

// Returns item `item` of menu `menu` of window's menu bar, both counted from 0.
QAction *menuItem(QMainWindow &window, int menu, int item);

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);
// Returns the names in folder, sorted.
QStringList listing(const QString &folder);
