#pragma once

// The messages exchanged between the client and the server: pure functions, Qt::Core only.
// Messages carry no terminator; a message is recognised by its first six characters.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace protocol {

inline constexpr int PrefixLength = 6;

inline const QString GreetingPrefix = QStringLiteral("Welcom");
inline const QString PingPrefix = QStringLiteral("PING_:");
inline const QString PongPrefix = QStringLiteral("PONG_:");
inline const QString CallPrefix = QStringLiteral("CALL_:");
inline const QString StatsPrefix = QStringLiteral("STATS:");
inline const QString ContactsPrefix = QStringLiteral("CNTAC:");

// What the client recognises in a received message, in the order it is tested.
enum class Kind { Greeting, Ping, Call, Stats, Contacts, Unknown };

// Compares the first six characters, exactly and case-sensitively, with the five
// inbound prefixes in order; a text shorter than six characters is Unknown.
Kind classify(const QString& message);
Kind classify(const QByteArray& message);

// Greeting: the server's version is the text after the first "[" up to, but not
// including, the last character. No "[" at all gives hasBracket false.
struct GreetingVersion {
    bool hasBracket = false;
    QString version;
};
GreetingVersion greetingVersion(const QString& greeting);

// Text comparison on character codes: a text that continues where the other ends is
// the greater one. True when serverVersion >= requiredVersion.
bool versionAccepted(const QString& serverVersion, const QString& requiredVersion);

// Keep-alive answer: "PONG_:" + everything after the six-character prefix.
QString pongFor(const QString& ping);

// A call's fields: every "Ping!" removed, then cut at every ","; empty fields count.
QStringList callFields(const QString& call);

// The server's greeting for a given version: "Welcome to Quillora Server [0.92]".
QString greeting(const QString& serverName, const QString& version);

// Client requests.
QString statsLastRequest(const QString& count);
QString statsUnknownRequest(const QString& count);
QString statsTopRequest(const QString& count);
QString statsContactsRequest();

// Statistics replies: "STATS:" and four more characters name the kind, then any text up
// to the first "#", two characters the client does not read, and the field list: fields
// separated by "," with no quoting, records following each other without separator.
inline constexpr int StatsKindLength = 10;
inline const QString StatsLastKind = QStringLiteral("STATS:LAST");
inline const QString StatsUnrecognisedKind = QStringLiteral("STATS:UNKN");
inline const QString StatsTopKind = QStringLiteral("STATS:TOPS");
inline const QString StatsContactsKind = QStringLiteral("STATS:CNTS");

enum class StatsKind { LastCalls, UnrecognisedCalls, TopCallers, ContactList, Other };

// The kind from the first ten characters, compared exactly.
StatsKind statsKind(const QString& reply);

// The reply's fields in order, each with its leading and trailing space characters
// removed (other white space stays). The list starts three characters after the first
// "#", or at the third character when there is none. An empty list text gives no fields;
// adjacent commas and a final comma give empty fields. With a limit, no more than that
// many fields are taken, and the rest of the text is not looked at.
QStringList statsFields(const QString& reply, qsizetype maxFields = -1);

// True for a non-empty text of the ASCII digits 0 to 9 only (no sign, no spaces).
bool isAllDigits(QStringView text);
inline bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Text on the wire: the desktop's 8-bit encoding.
QByteArray encode(const QString& text);
QString decode(const QByteArray& bytes);

} // namespace protocol
