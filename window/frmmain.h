// frmMain, the program's one window: the source and destination path fields, the menus and the
// commands behind them (open, the save step, exit, the conversion, the version box). It owns all
// of the program's state.
#pragma once

#include "convert.h"
#include "dialogs.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <string>

class QAction;
class QLabel;
class QMenu;

namespace quillarn {

// Returns path with the extension of its file name (after the last "/" or "\") cut off, as
// extensionStart finds it: the name the save dialog proposes, which its filter makes NAME.sgf, as
// ugi2sgf's batch names the record (targetFileName).
QString withoutExtension(const QString &path);

class frmMain : public QMainWindow {
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);

    // Does what ﾌｧｲﾙ ▸ 開く does once path is chosen: takes it as the source when it ends in .UGI,
    // otherwise says it cannot be converted. For a dropped file or one named on the command line.
    void chooseSource(const QString &path);

protected:
    // Returns the record file the window writes for the source bytes: code page 932, as Japanese
    // Windows programs read it (convertSource). A step of its own so that tests can make the
    // conversion fail as only a machine short of memory would.
    virtual Conversion convert(const std::string &source);

    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // What the save step did, for the conversion command to report.
    enum class SaveOutcome { Written, Failed, Cancelled };

    void createLabels();
    void createMenus();

    void mnuFileItem_Click(int index);
    void mnuConvItem_Click(int index);
    void mnuHelpItem_Click(int index);
    SaveOutcome saveStep();
    void setHenkanmoto(const QString &path);
    SaveOutcome saveHenkango(const QString &path);

    QLabel *lblHenkanmoto = nullptr;
    QLabel *lblHenkansaki = nullptr;
    std::array<QLabel *, 2> lblPath{}; // 0: the chosen source; 1: the last file written

    QMenu *mnuFile = nullptr;
    QMenu *mnuConv = nullptr;
    QMenu *mnuHelp = nullptr;
    std::array<QAction *, 4> mnuFileItem{};
    std::array<QAction *, 1> mnuConvItem{};
    std::array<QAction *, 1> mnuHelpItem{};

    CommonDialog dlg1;
    std::string fileHenkanmoto; // the last source read, as its bytes
    std::string fileHenkango;   // the last record made, as the bytes the save step writes
    QString saveFailure;        // why the last save step failed: the detail of its message
};

} // namespace quillarn
