#include "frmmain.h"

#include "commandfailure.h"
#include "pathlabel.h"
#include "recordfile.h"
#include "recordname.h"
#include "textconv.h"
#include "version.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>

#include <algorithm>
#include <exception>
#include <new>

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

// Returns the reason of the failure being handled, for the detail of 異常終了しました: the core's
// reason for a CommandFailure, a short plain text for anything else. Call it only in a handler. No
// hint follows a reason of a kind that another encoding would write (ReasonKind): the window writes
// code page 932 only, as the programs its users read the record with expect.
QString failureReason()
{
    try {
        throw;
    } catch (const CommandFailure &failure) {
        return QString::fromUtf8(failure.reason());
    } catch (const std::bad_alloc &) {
        return u"out of memory"_s;
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return u"unknown failure"_s;
    }
}

} // namespace

QString withoutExtension(const QString &path)
{
    const qsizetype nameStart = fileNameStart(path);
    const std::u16string name = toText(path.mid(nameStart));
    return path.left(nameStart + qsizetype(extensionStart(std::u16string_view(name))));
}

frmMain::frmMain(QWidget *parent) : QMainWindow(parent), dlg1(this)
{
    setWindowTitle(QString::fromLatin1(QUILLARN_NAME));
    setWindowIcon(QPixmap(quillarn_xpm));
    setAcceptDrops(true);
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
        connect(mnuFileItem[i], &QAction::triggered, this, [this, i] { mnuFileItem_Click(i); });
    connect(mnuConvItem[0], &QAction::triggered, this, [this] { mnuConvItem_Click(0); });
    connect(mnuHelpItem[0], &QAction::triggered, this, [this] { mnuHelpItem_Click(0); });
}

void frmMain::mnuFileItem_Click(int index)
{
    // Index 1, the save step, is never chosen from the menu (its item is never available): the
    // conversion command runs it as saveStep(), which tells it what the step did.
    switch (index) {
    case 0:
        try {
            dlg1.Filter = u"UGIﾌｧｲﾙ(*.ugi)|*.ugi|すべてのﾌｧｲﾙ(*.*)|*.*"_s;
            dlg1.FilterIndex = 1;
            dlg1.ShowOpen();
            setHenkanmoto(dlg1.FileName);
        } catch (...) {
            // A cancelled dialog, or anything else that goes wrong, ends the command silently.
        }
        break;
    case 3:
        QCoreApplication::exit(0);
        break;
    default:
        break;
    }
}

frmMain::SaveOutcome frmMain::saveStep()
{
    try {
        dlg1.Filter = u"SGFﾌｧｲﾙ(*.sgf)|*.sgf|MGTﾌｧｲﾙ(*.MGT)|*.mgt|すべてのﾌｧｲﾙ(*.*)|*.*"_s;
        dlg1.FilterIndex = 1;
        dlg1.FileName = withoutExtension(dlg1.FileName);
        dlg1.ShowSave();
        return saveHenkango(dlg1.FileName);
    } catch (const DialogCancelled &) {
        return SaveOutcome::Cancelled;
    } catch (...) {
        // A failed write, or memory running out while the record is encoded: the file that was
        // there is untouched, and the conversion says so.
        saveFailure = failureReason();
        return SaveOutcome::Failed;
    }
}

void frmMain::setHenkanmoto(const QString &path)
{
    // Judged on the name alone, on its last four characters: a missing file shows only when it is
    // converted.
    if (hasExtension(std::u16string_view(toText(path)), ugiExtension)) {
        lblPath[0]->setText(path);
        lblPath[1]->clear();
    } else {
        msgBox(this, u"このﾌｧｲﾙは変換できません"_s);
    }
}

frmMain::SaveOutcome frmMain::saveHenkango(const QString &path)
{
    if (QFileInfo(path).isFile() &&
        msgBox(this, u"既存のﾌｧｲﾙを上書きしてよろしいですか ?"_s, MsgBoxStyle::YesNoQuestion) == msgBoxNo) {
        return saveStep(); // a fresh save step, starting from the refused name; its outcome is ours
    }
    try {
        writeFileAtomically(toPath(path), fileHenkango); // a failure leaves the old file as it was
    } catch (const CommandFailure &failure) {
        throw CommandFailure(cannotWriteReason(path.toStdString(), failure.reason()));
    }
    lblPath[1]->setText(path);
    return SaveOutcome::Written;
}

void frmMain::mnuConvItem_Click(int /*index*/)
{
    try {
        if (lblPath[0]->text().isEmpty()) {
            msgBox(this, u"変換もとのﾌｧｲﾙを指定してください"_s);
            return;
        }
        fileHenkanmoto = readFileBytes(toPath(lblPath[0]->text()));
        fileHenkango = convert(fileHenkanmoto).bytes;
    } catch (...) {
        // Not only a CommandFailure: a source too large for the memory there is must end the
        // command with its message too, never the program.
        msgBox(this, u"異常終了しました"_s, MsgBoxStyle::OkOnly, QString(), failureReason());
        return;
    }
    switch (saveStep()) {
    case SaveOutcome::Written:
        msgBox(this, u"正常に変換が終了しました"_s);
        break;
    case SaveOutcome::Failed:
        msgBox(this, u"異常終了しました"_s, MsgBoxStyle::OkOnly, QString(), saveFailure);
        break;
    case SaveOutcome::Cancelled: // the user chose not to save: nothing happened to report
        break;
    }
}

Conversion frmMain::convert(const std::string &source)
{
    return convertSource(source, {SourceEncoding::Auto, RecordEncoding::Ansi});
}

void frmMain::mnuHelpItem_Click(int /*index*/)
{
    const QString name = QString::fromLatin1(QUILLARN_NAME);
    const QStringList lines = {
        name,
        u"      Version "_s + QString::fromLatin1(QUILLARN_VERSION),
        QString(),
        u"UGI形式の囲碁の棋譜をSGF形式に変換します"_s,
        u"      2000-10-24"_s,
    };
    msgBox(this, lines.join(u"\r\n"_s), MsgBoxStyle::OkOnly, name);
}

void frmMain::chooseSource(const QString &path)
{
    dlg1.FileName = path; // as the open dialog would leave it, so the save dialog proposes its name
    setHenkanmoto(path);
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
