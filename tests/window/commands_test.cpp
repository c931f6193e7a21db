// The window's commands driven through its menus and Qt's real dialogs: open, convert, the save
// step with its overwrite question, and what each reports.
#include "driver.h"
#include "frmmain.h"
#include "recordfile.h"
#include "recordname.h"
#include "textconv.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString written = u"message 正常に変換が終了しました"_s;
const QString failed = u"message 異常終了しました"_s;
// The refusal of a name, with why as its detail.
QString refused(const QString &path)
{
    return u"message このﾌｧｲﾙは変換できません | "_s + path +
           u": 名前が .ugi で終わるファイルだけが UGI の棋譜です"_s;
}
const QString overwrite = u"question 既存のﾌｧｲﾙを上書きしてよろしいですか ?"_s;

// The failure message with what ugi2sgf prints, the source and the reason, as the box's detailed
// text.
QString failedBecause(const QString &source, const QString &reason)
{
    return failed + u" | "_s + source + u": "_s + reason;
}

// frmMain whose translation can be made to throw what a machine short of memory throws.
class TestWindow : public quillarn::frmMain {
public:
    bool outOfMemory = false;

public:
    quillarn::Conversion convert(std::string_view source, quillarn::RecordEncoding encoding) override
    {
        if (outOfMemory)
            throw std::bad_alloc();
        return frmMain::convert(source, encoding);
    }
};

class Commands : public testing::Test {
protected:
    Commands() { window.show(); }

    QString path(const QString &name) const { return dir.filePath(name); }
    QString caption(int index) const
    {
        return window.findChild<QLabel *>(u"lblPath(%1)"_s.arg(index))->text();
    }
    void open() { menuItem(window, 0, 0)->trigger(); }
    void convert() { menuItem(window, 1, 0)->trigger(); }

    // Copies a sample record with Japanese names into the folder and chooses it as the source.
    QString chooseSample(const QString &name)
    {
        const QString source = path(name);
        QDir().mkpath(QFileInfo(source).path());
        QFile::copy(QStringLiteral(QUILLARN_TEST_DATA "/japanese-names.ugi"), source);
        ModalDriver().type(source).run([&] { open(); });
        return source;
    }

    // What the record writer writes for source.
    static QByteArray recordOf(const QString &source)
    {
        using namespace quillarn;
        return QByteArray::fromStdString(
            convertSource(readFileBytes(toPath(source)), {SourceEncoding::Auto, RecordEncoding::Ansi}).bytes);
    }

    QTemporaryDir dir;
    TestWindow window;
};

TEST_F(Commands, ConvertsTheChosenSourceIntoWhatTheRecordWriterWrites)
{
    const QString source = chooseSample(u"j.smith/kisei.ugi"_s);
    EXPECT_EQ(caption(0), source);
    const QString target = path(u"j.smith/kisei.sgf"_s);
    EXPECT_EQ(ModalDriver().type(target).press().run([&] { convert(); }),
              (QStringList{u"save "_s + path(u"j.smith/kisei"_s), written}));
    EXPECT_EQ(readFile(target), recordOf(source));
    EXPECT_EQ(caption(1), target);
    EXPECT_FALSE(menuItem(window, 0, 1)->isEnabled());

    chooseSample(u"next.ugi"_s); // a new source clears the destination
    EXPECT_EQ(caption(1), QString());
}

TEST_F(Commands, TakesOnlySourcesEndingInUgiInAnyCase)
{
    const QString chosen = path(u"a.UgI"_s); // need not exist: only converting reads it
    EXPECT_EQ(ModalDriver().type(chosen).run([&] { open(); }), QStringList{u"open"_s});
    EXPECT_EQ(caption(0), chosen);
    QString previous = chosen;
    for (const QString &name : {u"a.ugi.txt"_s, u"a.sgf"_s, u"abc"_s}) {
        EXPECT_EQ(ModalDriver().type(path(name)).press().run([&] { open(); }),
                  (QStringList{u"open "_s + previous, refused(path(name))}));
        previous = path(name);
    }
    EXPECT_EQ(caption(0), chosen);
}

TEST_F(Commands, CancelledOpenSaysNothingAndChangesNothing)
{
    const QString source = chooseSample(u"kisei.ugi"_s);
    EXPECT_EQ(ModalDriver().cancel().run([&] { open(); }), QStringList{u"open "_s + source});
    EXPECT_EQ(caption(0), source);
}

TEST_F(Commands, ConvertingWithoutASourceAsksForOne)
{
    EXPECT_EQ(ModalDriver().press().run([&] { convert(); }),
              QStringList{u"message 変換もとのﾌｧｲﾙを指定してください"_s});
}

TEST_F(Commands, SourceThatCannotBeReadOrTranslatedEndsAbnormally)
{
    const QString deleted = chooseSample(u"deleted.ugi"_s);
    QFile::remove(deleted);
    EXPECT_EQ(ModalDriver().press().run([&] { convert(); }),
              QStringList{failedBecause(deleted, u"そのようなファイルやフォルダーはありません"_s)});

    const QString empty = path(u"empty.ugi"_s);
    writeFile(empty, QByteArray());
    ModalDriver().type(empty).run([&] { open(); });
    const QStringList log = ModalDriver().press().run([&] { convert(); });
    EXPECT_TRUE(log.size() == 1 && log.first().startsWith(failedBecause(empty, QString())))
        << log.join(u'\n').toStdString();

    // Moves whose lines end in LF alone would run into one line: the record fails, nothing is lost.
    const QString mixed = path(u"mixed.ugi"_s);
    QFile::copy(QStringLiteral(QUILLARN_TEST_DATA "/mixed-line-ends.ugi"), mixed);
    ModalDriver().type(mixed).run([&] { open(); });
    EXPECT_EQ(
        ModalDriver().press().run([&] { convert(); }),
        QStringList{failedBecause(
            mixed,
            u"12 行目（1 手目）: 行末が CR のない LF です（ファイルの行末が混在しています。CR LF だけで保存してください）"_s)});
    EXPECT_EQ(listing(dir.path()), (QStringList{u"empty.ugi"_s, u"mixed.ugi"_s}));
}

TEST_F(Commands, ConversionThatRunsOutOfMemoryEndsAbnormallyAndTheWindowGoesOn)
{
    const QString source = chooseSample(u"kisei.ugi"_s);
    window.outOfMemory = true;
    EXPECT_EQ(ModalDriver().press().run([&] { convert(); }),
              QStringList{failedBecause(source, u"メモリーが足りません"_s)});
    EXPECT_EQ(listing(dir.path()), QStringList{u"kisei.ugi"_s});
    window.outOfMemory = false;
    EXPECT_EQ(ModalDriver().accept().press().run([&] { convert(); }),
              (QStringList{u"save "_s + path(u"kisei"_s), written}));
    EXPECT_EQ(readFile(path(u"kisei.sgf"_s)), recordOf(source));
}

// Programs that open SGF records list *.sgf: a name without an extension gets the filter's.
TEST_F(Commands, AcceptingTheProposedNameWritesItWithTheExtensionOfTheFilter)
{
    const QString source = chooseSample(u"kisei.ugi"_s);
    EXPECT_EQ(ModalDriver().accept().press().run([&] { convert(); }),
              (QStringList{u"save "_s + path(u"kisei"_s), written}));
    EXPECT_EQ(readFile(path(u"kisei.sgf"_s)), recordOf(source));
    EXPECT_EQ(caption(1), path(u"kisei.sgf"_s));
    // The overwrite question is asked about the name that would be written.
    EXPECT_EQ(ModalDriver().accept().press(QMessageBox::No).cancel().run([&] { convert(); }),
              (QStringList{u"save "_s + path(u"kisei"_s), overwrite, u"save "_s + path(u"kisei"_s)}));

    const auto filter = [](int index) {
        return [index](QFileDialog *dialog) { dialog->selectNameFilter(dialog->nameFilters().at(index)); };
    };
    ModalDriver().accept(filter(1)).press().run([&] { convert(); });
    ModalDriver().type(path(u"plain"_s), filter(2)).press().run([&] { convert(); });
    ModalDriver().type(path(u"game.txt"_s)).press().run([&] { convert(); });
    EXPECT_EQ(listing(dir.path()),
              (QStringList{u"game.txt"_s, u"kisei.mgt"_s, u"kisei.sgf"_s, u"kisei.ugi"_s, u"plain"_s}));
    EXPECT_EQ(readFile(path(u"kisei.mgt"_s)), recordOf(source));
}

TEST_F(Commands, NoAtTheOverwriteQuestionOffersTheNameAgainAndYesOverwrites)
{
    const QString source = chooseSample(u"kisei.ugi"_s);
    const QString target = path(u"kisei.sgf"_s);
    writeFile(target, "old");
    EXPECT_EQ(ModalDriver()
                  .type(target)
                  .press(QMessageBox::No)
                  .type(target)
                  .press(QMessageBox::Yes)
                  .press()
                  .run([&] { convert(); }),
              (QStringList{u"save "_s + path(u"kisei"_s), overwrite, u"save "_s + path(u"kisei"_s), overwrite,
                           written}));
    EXPECT_EQ(readFile(target), recordOf(source));
}

TEST_F(Commands, RefusedOverwriteThenAnotherNameCountsAsWritten)
{
    const QString source = chooseSample(u"kisei.ugi"_s);
    const QString target = path(u"kisei.sgf"_s);
    const QString other = path(u"other.sgf"_s);
    writeFile(target, "old");
    EXPECT_EQ(
        ModalDriver().type(target).press(QMessageBox::No).type(other).press().run([&] { convert(); }),
        (QStringList{u"save "_s + path(u"kisei"_s), overwrite, u"save "_s + path(u"kisei"_s), written}));
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(readFile(other), recordOf(source));
    EXPECT_EQ(caption(1), other);
}

TEST_F(Commands, CancelledSaveWritesNothingAndSaysNothing)
{
    chooseSample(u"kisei.ugi"_s);
    EXPECT_EQ(ModalDriver().cancel().run([&] { convert(); }), QStringList{u"save "_s + path(u"kisei"_s)});

    const QString target = path(u"kisei.sgf"_s);
    writeFile(target, "old");
    EXPECT_EQ(ModalDriver().type(target).press(QMessageBox::No).cancel().run([&] { convert(); }),
              (QStringList{u"save "_s + path(u"kisei"_s), overwrite, u"save "_s + path(u"kisei"_s)}));
    EXPECT_EQ(listing(dir.path()), (QStringList{u"kisei.sgf"_s, u"kisei.ugi"_s}));
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(caption(1), QString());
}

TEST_F(Commands, FailedWriteSaysSoAndKeepsTheLastWrittenPath)
{
    const QString source = chooseSample(u"kisei.ugi"_s);
    const QString target = path(u"kisei.sgf"_s);
    ModalDriver().type(target).press().run([&] { convert(); });
    ASSERT_EQ(caption(1), target);
    // A folder that does not exist: nobody, root included, can create a file in it.
    EXPECT_EQ(ModalDriver().type(path(u"missing/kisei.sgf"_s)).press().run([&] { convert(); }),
              (QStringList{
                  u"save "_s + path(u"kisei"_s),
                  failedBecause(source, u"%1 を書けません: そのようなファイルやフォルダーはありません"_s.arg(
                                            path(u"missing/kisei.sgf"_s)))}));
    EXPECT_EQ(caption(1), target);
}

#ifdef Q_OS_UNIX
TEST_F(Commands, FailedOverwriteLeavesTheOldFileAsItWas)
{
    const QString source = chooseSample(u"kisei.ugi"_s);
    const QString target = path(u"kisei.sgf"_s);
    writeFile(target, "old record");
    // No file of this process may grow past 8 bytes while the command runs, a limit that binds
    // root too; the write then fails with EFBIG instead of a signal.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 8;
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const QStringList log =
        ModalDriver().type(target).press(QMessageBox::Yes).press().run([&] { convert(); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_DFL);

    EXPECT_EQ(log,
              (QStringList{u"save "_s + path(u"kisei"_s), overwrite,
                           failedBecause(source, u"%1 を書けません: ファイルが大きすぎます"_s.arg(target))}));
    EXPECT_EQ(readFile(target), "old record");
    EXPECT_EQ(listing(dir.path()), (QStringList{u"kisei.sgf"_s, u"kisei.ugi"_s})); // no temporary left
    EXPECT_EQ(caption(1), QString());
}
#endif

TEST_F(Commands, DroppedFileIsTakenAsIfOpened)
{
    const auto drop = [&](const QList<QUrl> &urls, ModalDriver answers) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        if (!enter.isAccepted())
            return QStringList{u"drag refused"_s};
        return answers.run([&] {
            QDropEvent event(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&window, &event);
            QCoreApplication::processEvents();
        });
    };
    const QString source = path(u"dropped.UGI"_s);
    QFile::copy(QStringLiteral(QUILLARN_TEST_DATA "/japanese-names.ugi"), source);
    EXPECT_EQ(drop({QUrl::fromLocalFile(source)}, ModalDriver()), QStringList());
    EXPECT_EQ(caption(0), source);
    EXPECT_EQ(ModalDriver().cancel().run([&] { convert(); }), QStringList{u"save "_s + path(u"dropped"_s)});

    EXPECT_EQ(drop({QUrl::fromLocalFile(path(u"notes.txt"_s))}, ModalDriver().press()),
              QStringList{refused(path(u"notes.txt"_s))});
    const QUrl url = QUrl::fromLocalFile(source);
    EXPECT_EQ(drop({url, url}, ModalDriver()), QStringList{u"drag refused"_s}); // one file at a time
    EXPECT_EQ(caption(0), source);
}

} // namespace
