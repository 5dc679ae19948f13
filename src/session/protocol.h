#pragma once

// The messages exchanged between the client and the server: pure functions, Qt::Core only.
// Messages carry no terminator; a message is recognised by its first six characters.

#include <QByteArray>
#include <QString>
#include <QStringList>

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

// Text on the wire: the desktop's 8-bit encoding.
QByteArray encode(const QString& text);
QString decode(const QByteArray& bytes);

} // namespace protocol
