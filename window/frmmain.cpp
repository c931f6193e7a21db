// The Qt face of frmMain (frmmain.h): its widgets, menus and dialogs, the commands behind them.
#include "frmmain.h"

#include "pathlabel.h"
#include "textconv.h"
#include "version.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>

#include <clocale>

#include "quillarn.xpm"

using namespace Qt::Literals::StringLiterals;

namespace quillarn {

namespace {

// Returns the path of the one local file a drag carries; empty when it carries anything else.
QString draggedFile(const QMimeData *data)
{
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    return urls.first().toLocalFile();
}

} // namespace

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QString::fromLatin1(QUILLARN_NAME));
    setWindowIcon(QPixmap(quillarn_xpm));
    setAcceptDrops(true);
#ifdef LC_MESSAGES
    // The details of a failure are in Japanese, as the window is, the system's part of them in our
    // own words for the errors a file meets; any other error of the system keeps its English words
    // rather than whatever language the user's locale would give them. Qt's texts come from its
    // translations.
    std::setlocale(LC_MESSAGES, "C");
#endif
    createLabels();
    createMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize); // the window keeps the size of its contents
}

void frmMain::createLabels()
{
    // A fixed layout in pixels: nothing moves, since the window cannot be resized.
    auto *client = new QWidget(this);
    client->setFixedSize(473, 130);
    setCentralWidget(client);

    lblHenkanmoto = new QLabel(u"変換元ﾌｧｲﾙ"_s, client);
    lblHenkanmoto->setObjectName(u"lblHenkanmoto"_s);
    lblHenkanmoto->setGeometry(16, 16, 73, 25);
    lblHenkansaki = new QLabel(u"変換先ﾌｧｲﾙ"_s, client);
    lblHenkansaki->setObjectName(u"lblHenkansaki"_s);
    lblHenkansaki->setGeometry(16, 64, 73, 25);
    for (int i = 0; i < int(lblPath.size()); ++i) {
        lblPath[i] = new PathLabel(client);
        lblPath[i]->setObjectName(u"lblPath(%1)"_s.arg(i));
        lblPath[i]->setGeometry(108, 8 + 48 * i, 353, 37);
    }
}

void frmMain::createMenus()
{
    mnuFile = menuBar()->addMenu(u"ﾌｧｲﾙ(&F)"_s);
    mnuFileItem[0] = mnuFile->addAction(u"開く(&O)"_s);
    // The save step runs only as the tail of a conversion, never on its own.
    mnuFileItem[1] = mnuFile->addAction(u"名前を付けて保存(&A)..."_s);
    mnuFileItem[1]->setEnabled(false);
    mnuFileItem[2] = mnuFile->addSeparator();
    mnuFileItem[3] = mnuFile->addAction(u"終了(&X)"_s);

    mnuConv = menuBar()->addMenu(u"変換(&C)"_s);
    mnuConvItem[0] = mnuConv->addAction(u"UGI→SGF"_s);

    mnuHelp = menuBar()->addMenu(u"ﾍﾙﾌﾟ"_s);
    mnuHelpItem[0] = mnuHelp->addAction(u"ﾊﾞｰｼﾞｮﾝ(&V)..."_s);

    // One handler per menu, told the item's index.
    for (int i = 0; i < int(mnuFileItem.size()); ++i)
        connect(mnuFileItem[i], &QAction::triggered, this, [this, i] { commands_.mnuFileItem_Click(i); });
    connect(mnuConvItem[0], &QAction::triggered, this, [this] { commands_.mnuConvItem_Click(0); });
    connect(mnuHelpItem[0], &QAction::triggered, this, [this] { commands_.mnuHelpItem_Click(0); });
}

int frmMain::msgBox(const std::u16string &prompt, MsgBoxStyle style, const std::u16string &title,
                    const std::u16string &detail)
{
    return quillarn::msgBox(this, toQString(prompt), style, title.empty() ? QString() : toQString(title),
                            toQString(detail));
}

bool frmMain::showFileDialog(FileDialog &dialog, QFileDialog::AcceptMode mode)
{
    CommonDialog dlg1(this);
    dlg1.Filter = toQString(dialog.Filter);
    dlg1.FilterIndex = dialog.FilterIndex;
    dlg1.FileName = toQString(dialog.FileName);
    try {
        mode == QFileDialog::AcceptOpen ? dlg1.ShowOpen() : dlg1.ShowSave();
    } catch (const DialogCancelled &) {
        return false;
    }
    dialog.FilterIndex = dlg1.FilterIndex;
    dialog.FileName = toText(dlg1.FileName);
    return true;
}

bool frmMain::showOpen(FileDialog &dialog)
{
    return showFileDialog(dialog, QFileDialog::AcceptOpen);
}

bool frmMain::showSave(FileDialog &dialog)
{
    return showFileDialog(dialog, QFileDialog::AcceptSave);
}

void frmMain::showPath(int index, const std::u16string &text)
{
    lblPath[index]->setText(toQString(text));
}

void frmMain::exitProgram()
{
    QCoreApplication::exit(0);
}

void frmMain::chooseSource(const QString &path)
{
    commands_.chooseSource(toText(path));
}

void frmMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (!draggedFile(event->mimeData()).isEmpty() && !QApplication::activeModalWidget())
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent *event)
{
    const QString path = draggedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // Answered once the drop is over, so that a message box does not keep the dragging program waiting.
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (!QApplication::activeModalWidget())
                chooseSource(path);
        },
        Qt::QueuedConnection);
}

} // namespace quillarn
