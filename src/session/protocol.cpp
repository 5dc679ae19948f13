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

QByteArray encode(const QString& text)
{
    return text.toLocal8Bit();
}

QString decode(const QByteArray& bytes)
{
    return QString::fromLocal8Bit(bytes);
}

} // namespace protocol
