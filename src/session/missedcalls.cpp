#include "session/missedcalls.h"

#include "session/protocol.h"

#include <QDateTime>

namespace missedcalls {

namespace {

const QString Format = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace

bool isTime(const QString& text)
{
    return QDateTime::fromString(text, Format).isValid();
}

QString newestTime(const QString& reply)
{
    if (protocol::statsKind(reply) != protocol::StatsKind::LastCalls)
        return QString();
    const QStringList fields = protocol::statsFields(reply);
    QString newest;
    for (qsizetype i = 1; i < fields.size(); i += 3) {
        if (isTime(fields[i]) && fields[i] > newest)
            newest = fields[i];
    }
    return newest;
}

QStringList lines(const QString& reply, const QString& since)
{
    if (protocol::statsKind(reply) != protocol::StatsKind::LastCalls)
        return {};
    const QDateTime after = QDateTime::fromString(since, Format);
    const QStringList fields = protocol::statsFields(reply);
    QStringList result;
    // Name, time, number; newest first.
    for (qsizetype i = 0; i + 2 < fields.size(); i += 3) {
        const QDateTime at = QDateTime::fromString(fields[i + 1], Format);
        if (!at.isValid() || !after.isValid() || at <= after)
            continue;
        result.prepend(QStringLiteral("Missed while disconnected: %1 %2 %3")
                           .arg(at.toString(QStringLiteral("HH:mm")), fields[i + 2], fields[i]));
    }
    return result;
}

QString summary(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 call while disconnected")
                      : QStringLiteral("%1 calls while disconnected").arg(count);
}

} // namespace missedcalls
