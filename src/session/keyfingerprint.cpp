#include "session/keyfingerprint.h"

#include <QCryptographicHash>

namespace keyfingerprint {

QString pin(const QByteArray& publicKeyDer)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(publicKeyDer, QCryptographicHash::Sha256).toHex().toUpper());
}

bool isPin(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

QString display(const QString& pin)
{
    if (!isPin(pin))
        return pin;
    QString pairs;
    for (qsizetype i = 0; i < pin.size(); i += 2) {
        if (i > 0)
            pairs += QLatin1Char(':');
        pairs += pin.mid(i, 2);
    }
    return QStringLiteral("SHA256 ") + pairs;
}

QString displayLines(const QString& pin)
{
    if (!isPin(pin))
        return pin;
    const QString pairs = display(pin).mid(7);
    return QStringLiteral("SHA256\r\n") + pairs.left(47) + QStringLiteral("\r\n") + pairs.mid(48);
}

} // namespace keyfingerprint
