#include "driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

QString describe(QMessageBox *box)
{
    const bool titled = box->windowTitle() == u"Quillarn";
    if (titled && box->icon() == QMessageBox::NoIcon && box->standardButtons() == QMessageBox::Ok) {
        const QString detail = box->detailedText();
        return u"message "_s + box->text() + (detail.isEmpty() ? QString() : u" | "_s + detail);
    }
    if (titled && box->icon() == QMessageBox::Question &&
        box->standardButtons() == (QMessageBox::Yes | QMessageBox::No) &&
        box->defaultButton() == box->button(QMessageBox::No))
        return u"question "_s + box->text();
    return u"box title=%1 icon=%2 buttons=%3 text=%4"_s.arg(box->windowTitle())
        .arg(int(box->icon()))
        .arg(int(box->standardButtons()))
        .arg(box->text());
}

// Runs action once the timer's slot has returned: an answer may open another modal dialog, whose
// event loop would otherwise run inside the slot, where the timer cannot fire again to answer it.
template <typename Action> void later(QObject *target, Action action)
{
    QMetaObject::invokeMethod(target, action, Qt::QueuedConnection);
}

// Closes modal whatever it is; done() works even on a message box without an escape button.
void dismiss(QWidget *modal)
{
    later(modal, [modal] {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->done(QDialog::Rejected);
        else
            modal->close();
    });
}

} // namespace

ModalDriver &ModalDriver::press(QMessageBox::StandardButton button)
{
    steps.push_back({false, button, QString(), {}});
    return *this;
}

ModalDriver &ModalDriver::type(const QString &path, Inspect inspect)
{
    steps.push_back({true, QMessageBox::NoButton, path, std::move(inspect)});
    return *this;
}

ModalDriver &ModalDriver::cancel(Inspect inspect)
{
    return type(QString(), std::move(inspect));
}

ModalDriver &ModalDriver::accept(Inspect inspect)
{
    steps.push_back({true, QMessageBox::NoButton, QString(), std::move(inspect), true});
    return *this;
}

QStringList ModalDriver::run(const std::function<void()> &command)
{
    log.clear();
    QPointer<QWidget> answered;
    int waits = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (modal != answered) {
            answered = modal;
            waits = 0;
            answer(modal);
        } else if (++waits % 1000 == 0) { // still up 5 s after its answer: do not hang the test
            log << u"stuck "_s + QString::fromLatin1(modal->metaObject()->className());
            dismiss(modal);
        }
    });
    timer.start(5);
    command();
    timer.stop();
    for (const Step &step : steps)
        log << (step.file ? u"missing file dialog"_s : u"missing message box"_s);
    steps.clear();
    return log;
}

void ModalDriver::answer(QWidget *modal)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    QString entry;
    if (box) {
        entry = describe(box);
    } else if (dialog) {
        const QString typed = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s)->text();
        entry = dialog->acceptMode() == QFileDialog::AcceptOpen ? u"open"_s : u"save"_s;
        if (!typed.isEmpty())
            entry += u' ' + dialog->selectedFiles().value(0);
    } else {
        entry = QString::fromLatin1(modal->metaObject()->className());
    }
    if (steps.empty() || steps.front().file != (dialog != nullptr) || (!box && !dialog)) {
        log << u"unexpected "_s + entry;
        dismiss(modal);
        return;
    }
    log << entry;
    const Step step = steps.front();
    steps.pop_front();
    if (box) {
        if (QAbstractButton *button = box->button(step.button))
            later(button, [button] { button->click(); });
        else
            later(box, [box] { box->close(); });
        return;
    }
    if (step.inspect)
        step.inspect(dialog);
    if (step.asProposed) {
        later(dialog, [dialog] { static_cast<QDialog *>(dialog)->accept(); });
    } else if (step.path.isEmpty()) {
        later(dialog, [dialog] { dialog->reject(); });
    } else {
        // Typed as a user types: into the focused name field, which drops the listed file selected.
        auto *edit = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        dialog->activateWindow();
        QCoreApplication::processEvents();
        edit->setFocus();
        if (!edit->hasFocus())
            log << u"name field without focus"_s;
        edit->setText(step.path);
        later(dialog, [dialog] { static_cast<QDialog *>(dialog)->accept(); }); // as its Open/Save button
    }
}

QAction *menuItem(QMainWindow &window, int menu, int item)
{
    return window.menuBar()->actions().at(menu)->menu()->actions().at(item);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QStringList listing(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}
