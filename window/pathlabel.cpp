#include "pathlabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace quillarn {

namespace {
constexpr int textFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWrapAnywhere;
constexpr int textMargin = 3;
} // namespace

PathLabel::PathLabel(QWidget *parent) : QLabel(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setTextFormat(Qt::PlainText);
}

QRect PathLabel::textBox() const
{
    return contentsRect().adjusted(textMargin, 0, -textMargin, 0);
}

QString PathLabel::shownText() const
{
    const QRect box = textBox();
    const QFontMetrics metrics = fontMetrics();
    const auto fits = [&](const QString &s) {
        return metrics.boundingRect(box, textFlags, s).height() <= box.height();
    };
    const QString path = text();
    if (fits(path))
        return path;
    // The fewest leading characters to drop; fewer characters never take more room.
    const QString ellipsis(QChar(0x2026));
    qsizetype low = 1;
    qsizetype high = path.size();
    while (low < high) {
        const qsizetype mid = (low + high) / 2;
        if (fits(ellipsis + path.mid(mid)))
            high = mid;
        else
            low = mid + 1;
    }
    if (low < path.size() && path.at(low).isLowSurrogate())
        ++low; // never show half a character
    return ellipsis + path.mid(low);
}

void PathLabel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event); // the sunken box; the text is drawn here instead of by QLabel
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(textBox(), textFlags, shownText());
}

bool PathLabel::event(QEvent *event)
{
    // A shortened path shows whole in its tooltip.
    if (event->type() == QEvent::ToolTip) {
        if (shownText() != text())
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

} // namespace quillarn
