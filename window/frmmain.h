// frmMain, the program's one window on Qt: the source and destination path fields and the menus,
// a face over the commands of commands.h, which hold all of the window's state.
#pragma once

#include "commands.h"
#include "dialogs.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <string>

class QAction;
class QLabel;
class QMenu;

namespace quillarn {

class frmMain : public QMainWindow, public WindowFace {
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);

    // For a dropped file or one named on the command line (WindowCommands::chooseSource).
    void chooseSource(const QString &path);

    int msgBox(const std::u16string &prompt, MsgBoxStyle style, const std::u16string &title,
               const std::u16string &detail) override;
    bool showOpen(FileDialog &dialog) override;
    bool showSave(FileDialog &dialog) override;
    void showPath(int index, const std::u16string &text) override;
    void exitProgram() override;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void createLabels();
    void createMenus();
    bool showFileDialog(FileDialog &dialog, QFileDialog::AcceptMode mode);

    QLabel *lblHenkanmoto = nullptr;
    QLabel *lblHenkansaki = nullptr;
    std::array<QLabel *, 2> lblPath{}; // 0: the chosen source; 1: the last file written

    QMenu *mnuFile = nullptr;
    QMenu *mnuConv = nullptr;
    QMenu *mnuHelp = nullptr;
    std::array<QAction *, 4> mnuFileItem{};
    std::array<QAction *, 1> mnuConvItem{};
    std::array<QAction *, 1> mnuHelpItem{};

    WindowCommands commands_{*this};
};

} // namespace quillarn
