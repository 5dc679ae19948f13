#include "tray/traytip.h"

namespace traytip {

QString field(const QString& tip)
{
    QString text = tip.isEmpty() ? QString(QChar(u'\0'))
                                 : QLatin1Char(' ') + tip + QLatin1Char(' ') + QChar(u'\0');
    text.truncate(FieldLength);
    return text.leftJustified(FieldLength, QLatin1Char(' '));
}

QString shown(const QString& field)
{
    const qsizetype end = field.indexOf(QChar(u'\0'));
    return end < 0 ? field : field.left(end);
}

} // namespace traytip
