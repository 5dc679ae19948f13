#include "popup/elidedlabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {

// No label here is wide enough for more characters than this, so a huge text is
// measured and elided by its beginning alone.
constexpr qsizetype MeasuredCharacters = 512;

} // namespace

bool ElidedLabel::isElided() const
{
    return text().size() > MeasuredCharacters ||
           fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

void ElidedLabel::paintEvent(QPaintEvent* event)
{
    if (!isElided()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text().left(MeasuredCharacters) + QChar(0x2026),
                                                   Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
}

bool ElidedLabel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && isElided()) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                           text().left(MeasuredCharacters * 4), this);
        return true;
    }
    return QLabel::event(event);
}
