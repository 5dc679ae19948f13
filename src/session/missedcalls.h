#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// The calls that came in while the client was not connected, read from the server's
// list of last calls after a reconnect. Pure.
namespace missedcalls {

// How many of the last calls the client asks for, and reads of the reply at the most.
constexpr int RequestedCalls = 200;
// Calls of one second kept as seen; a server that claims more in one second is not
// remembered further.
constexpr qsizetype MaxKeptCalls = RequestedCalls;

// A call as the server's list gives it. Its time is the server's (yyyy-MM-dd HH:mm:ss).
struct Call {
    QString name;
    QString time;
    QString number;
};

// One call told apart from another of the same second: its time and its number (the
// name may have changed since, and the pop-up has none for an unknown caller).
QString key(const QString& time, const QString& number);

// What the client saw of the server's calls around the loss. A call is missed when the
// server logged it between the last call (or word) seen before the loss and the first
// call seen after the reconnect; calls of those very seconds count unless they were seen.
struct Marks {
    QString since;           // the last call's time before the loss, or the time of the last word
    QSet<QString> seenSince; // the calls seen of that second (keys)
    QString until;           // the first call's time after the reconnect; empty: none yet
    QSet<QString> seenAfter; // the calls seen after the reconnect (keys)

    // Notes a call seen after the reconnect.
    void sawAfter(const QString& time, const QString& number);
};

// The calls of a "STATS:LAST" reply with a readable time, newest first, no more than
// RequestedCalls; the rest of the reply is not read. Nothing for another reply.
QList<Call> calls(const QString& reply);

// The log lines ("Missed while disconnected: 14:03 555-1319 Clara O'Brien") for the
// missed calls among them, oldest first.
QStringList lines(const QList<Call>& calls, const Marks& marks);

// Whether the text is a call time as the server writes it (yyyy-MM-dd HH:mm:ss).
bool isTime(const QString& text);

// The tray message for n missed calls: "1 call while disconnected", "3 calls ...".
QString summary(qsizetype count);

} // namespace missedcalls
