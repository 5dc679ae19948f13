#include "session/missedcalls.h"

#include "session/protocol.h"

#include <QDateTime>

namespace missedcalls {

namespace {

const QString Format = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// Times as the server writes them sort as text.
bool missed(const Call& call, const Marks& marks)
{
    const QString id = key(call.time, call.number);
    if (marks.since.isEmpty() || call.time < marks.since ||
        (call.time == marks.since && marks.seenSince.contains(id)))
        return false;
    if (!marks.until.isEmpty() && call.time > marks.until)
        return false;
    return !marks.seenAfter.contains(id);
}

} // namespace

QString key(const QString& time, const QString& number)
{
    return time + QLatin1Char(',') + number.trimmed();
}

void Marks::sawAfter(const QString& time, const QString& number)
{
    if (!isTime(time))
        return;
    if (until.isEmpty())
        until = time;
    if (seenAfter.size() < MaxKeptCalls)
        seenAfter.insert(key(time, number));
}

bool isTime(const QString& text)
{
    return text.size() == Format.size() && QDateTime::fromString(text, Format).isValid();
}

QList<Call> calls(const QString& reply)
{
    if (protocol::statsKind(reply) != protocol::StatsKind::LastCalls)
        return {};
    const QStringList fields = protocol::statsFields(reply, RequestedCalls * 3);
    QList<Call> result;
    // Name, time, number; newest first.
    for (qsizetype i = 0; i + 2 < fields.size(); i += 3) {
        if (isTime(fields[i + 1]))
            result.append({fields[i], fields[i + 1], fields[i + 2]});
    }
    return result;
}

QStringList lines(const QList<Call>& calls, const Marks& marks)
{
    QStringList result;
    for (const Call& call : calls) {
        if (missed(call, marks))
            result.prepend(QStringLiteral("Missed while disconnected: %1 %2 %3")
                               .arg(call.time.mid(11, 5), call.number, call.name));
    }
    return result;
}

QString summary(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 call while disconnected")
                      : QStringLiteral("%1 calls while disconnected").arg(count);
}

} // namespace missedcalls
