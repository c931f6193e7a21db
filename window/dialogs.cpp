#include "dialogs.h"

#include "version.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace quillarn {

int msgBox(QWidget *parent, const QString &prompt, MsgBoxStyle style, const QString &title,
           const QString &detail)
{
    QMessageBox box(parent);
    box.setWindowTitle(title.isNull() ? QString::fromLatin1(QUILLARN_NAME) : title);
    box.setTextFormat(Qt::PlainText); // prompts are shown as written, paths included
    box.setText(prompt);
    if (!detail.isEmpty())
        box.setDetailedText(detail); // always plain text
    if (style == MsgBoxStyle::YesNoQuestion) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
    } else {
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.exec();
    if (style == MsgBoxStyle::OkOnly)
        return msgBoxOk;
    // Only an explicit Yes is a Yes: callers take anything but No as one.
    return box.clickedButton() == box.button(QMessageBox::Yes) ? msgBoxYes : msgBoxNo;
}

QStringList nameFilters(const QString &filter)
{
    QStringList filters;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(u';', Qt::SkipEmptyParts);
        for (QString &pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == u"*.*")
                pattern = u"*"_s;
        }
        filters << parts.at(i) + u" ("_s + patterns.join(u' ') + u')';
    }
    return filters;
}

void CommonDialog::ShowOpen()
{
    show(QFileDialog::AcceptOpen);
}

void CommonDialog::ShowSave()
{
    show(QFileDialog::AcceptSave);
}

void CommonDialog::show(QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(owner);
    // Qt's own dialog everywhere, so that it behaves (and is tested) the same on every platform.
    // The save step asks its own overwrite question. The descriptions already show their patterns.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite |
                      QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(mode);
    // Any typed name is returned, existing or not: the commands find out what is there.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive); // *.ugi lists A.UGI too

    const QStringList filters = nameFilters(Filter);
    dialog.setNameFilters(filters);
    if (FilterIndex >= 1 && FilterIndex <= filters.size())
        dialog.selectNameFilter(filters.at(FilterIndex - 1));
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);

    if (dialog.exec() != QDialog::Accepted)
        throw DialogCancelled();
    FileName = dialog.selectedFiles().value(0);
    // The dialog names the filter in use without the patterns it hides.
    const QString selected = dialog.selectedNameFilter();
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (filters.at(i) == selected || filters.at(i).startsWith(selected + u" ("_s)) {
            FilterIndex = int(i) + 1;
            break;
        }
    }
}

bool useJapaneseQt(QApplication &app)
{
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto *translator = new QTranslator(&app);
    if (!translator->load(u"qtbase_ja"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}

} // namespace quillarn
