// The dialog layer the window's commands talk to the user through: a message box that answers with
// button codes, and the file dialog dlg1 shared by the open and the save command. A cancelled file
// dialog raises DialogCancelled, so the running command ends without writing or changing anything.
#pragma once

#include "commands.h"

#include <QFileDialog>
#include <QString>
#include <QStringList>

class QApplication;
class QWidget;

namespace quillarn {

// Shows prompt in a modal message box over parent and returns the code of the button pressed:
// msgBoxOk for OkOnly; msgBoxYes or msgBoxNo for YesNoQuestion, where closing the box counts as No.
// The title is "Quillarn" unless one is given. A detail, when given, is the box's detailed text:
// hidden behind a button, so that the prompt stays as it is and the reason is there for who asks.
int msgBox(QWidget *parent, const QString &prompt, MsgBoxStyle style = MsgBoxStyle::OkOnly,
           const QString &title = QString(), const QString &detail = QString());

// What ShowOpen and ShowSave raise when the user cancels.
class DialogCancelled : public CommandFailure {
public:
    DialogCancelled() : CommandFailure("file dialog cancelled") {}
};

// Returns Qt name filters for a filter text of the form "description|pattern|description|pattern",
// patterns separated by ";" as on Windows; "*.*" becomes "*" (every file, with or without a dot).
QStringList nameFilters(const QString &filter);

// The file dialog: set Filter and FilterIndex, show it, read FileName. FileName keeps its value
// between uses, so each dialog starts from the path of the last one.
class CommonDialog {
public:
    explicit CommonDialog(QWidget *owner) : owner(owner) {}

    QString Filter;      // "description|pattern|..."
    int FilterIndex = 1; // 1-based: the filter selected when the dialog opens
    QString FileName;    // the path shown on opening and chosen on closing

    // Show the modal open / save dialog and set FileName to the chosen path and FilterIndex to the
    // filter in use; the name need not exist. The save dialog asks nothing about overwriting.
    // Raise DialogCancelled when cancelled, with FileName unchanged.
    void ShowOpen();
    void ShowSave();

private:
    void show(QFileDialog::AcceptMode mode);

    QWidget *owner;
};

// Loads Qt's own Japanese translation, so that standard buttons and the file dialogs speak the
// language of the rest of the window, and makes Japanese the default locale. Returns false when
// the translation is not installed (Qt's English texts remain).
bool useJapaneseQt(QApplication &app);

} // namespace quillarn
