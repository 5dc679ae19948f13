#include "session/protocol.h"

namespace protocol {

namespace {

template <typename Text> Kind classifyPrefix(const Text& head)
{
    if (head == GreetingPrefix)
        return Kind::Greeting;
    if (head == PingPrefix)
        return Kind::Ping;
    if (head == CallPrefix)
        return Kind::Call;
    if (head == StatsPrefix)
        return Kind::Stats;
    if (head == ContactsPrefix)
        return Kind::Contacts;
    return Kind::Unknown;
}

} // namespace

Kind classify(const QString& message)
{
    if (message.size() < PrefixLength)
        return Kind::Unknown;
    return classifyPrefix(QStringView(message).left(PrefixLength));
}

Kind classify(const QByteArray& message)
{
    if (message.size() < PrefixLength)
        return Kind::Unknown;
    return classifyPrefix(QLatin1String(message.constData(), PrefixLength));
}

GreetingVersion greetingVersion(const QString& greeting)
{
    GreetingVersion result;
    const qsizetype bracket = greeting.indexOf(QLatin1Char('['));
    if (bracket < 0)
        return result;
    result.hasBracket = true;
    // From after the "[" to just before the last character; a "[" that is itself the
    // last character leaves no version at all.
    const qsizetype length = greeting.size() - bracket - 2;
    if (length > 0)
        result.version = greeting.mid(bracket + 1, length);
    return result;
}

bool versionAccepted(const QString& serverVersion, const QString& requiredVersion)
{
    return QString::compare(serverVersion, requiredVersion, Qt::CaseSensitive) >= 0;
}

QString pongFor(const QString& ping)
{
    return PongPrefix + ping.mid(PrefixLength);
}

QStringList callFields(const QString& call)
{
    QString text = call;
    text.remove(QStringLiteral("Ping!"), Qt::CaseSensitive);
    return text.split(QLatin1Char(','), Qt::KeepEmptyParts);
}

QString greeting(const QString& serverName, const QString& version)
{
    return QStringLiteral("Welcome to %1 [%2]").arg(serverName, version);
}

QString statsLastRequest(const QString& count)
{
    return StatsPrefix + QStringLiteral("LAST;") + count;
}

QString statsUnknownRequest(const QString& count)
{
    return StatsPrefix + QStringLiteral("UNKN;") + count;
}

QString statsTopRequest(const QString& count)
{
    return StatsPrefix + QStringLiteral("TOPS;") + count;
}

QString statsContactsRequest()
{
    return StatsPrefix + QStringLiteral("CNTS;00");
}

StatsKind statsKind(const QString& reply)
{
    const QStringView kind = QStringView(reply).left(StatsKindLength);
    if (kind == StatsLastKind)
        return StatsKind::LastCalls;
    if (kind == StatsUnrecognisedKind)
        return StatsKind::UnrecognisedCalls;
    if (kind == StatsTopKind)
        return StatsKind::TopCallers;
    if (kind == StatsContactsKind)
        return StatsKind::ContactList;
    return StatsKind::Other;
}

namespace {

QStringView trimSpaces(QStringView field)
{
    qsizetype begin = 0;
    qsizetype end = field.size();
    while (begin < end && field[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && field[end - 1] == QLatin1Char(' '))
        --end;
    return field.sliced(begin, end - begin);
}

} // namespace

QStringList statsFields(const QString& reply, qsizetype maxFields)
{
    const qsizetype hash = reply.indexOf(QLatin1Char('#'));
    const qsizetype start = hash < 0 ? 2 : hash + 3;
    if (start >= reply.size() || maxFields == 0)
        return {};
    const QStringView text = QStringView(reply).sliced(start);

    QStringList fields;
    if (maxFields < 0)
        fields.reserve(text.count(QLatin1Char(',')) + 1);
    qsizetype from = 0;
    for (;;) {
        if (fields.size() == maxFields)
            break;
        const qsizetype comma = text.indexOf(QLatin1Char(','), from);
        const qsizetype to = comma < 0 ? text.size() : comma;
        fields.append(trimSpaces(text.sliced(from, to - from)).toString());
        if (comma < 0)
            break;
        from = comma + 1;
    }
    return fields;
}

bool isAllDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

QByteArray encode(const QString& text)
{
    return text.toLocal8Bit();
}

QString decode(const QByteArray& bytes)
{
    return QString::fromLocal8Bit(bytes);
}

} // namespace protocol
