#pragma once

#include <QString>
#include <QStringList>

// The calls that came in while the client was not connected, read from the server's
// list of last calls after a reconnect. Pure.
namespace missedcalls {

// How many of the last calls the client asks for.
constexpr int RequestedCalls = 200;

// The log lines ("Missed while disconnected: 14:03 555-1319 Clara O'Brien") for the
// calls of a "STATS:LAST" reply whose time (yyyy-MM-dd HH:mm:ss) is later than `since`,
// oldest first. Nothing for another reply or a call without a readable time.
QStringList lines(const QString& reply, const QString& since);

// The newest call time of a "STATS:LAST" reply; empty when it has none.
QString newestTime(const QString& reply);

// Whether the text is a call time as the server writes it (yyyy-MM-dd HH:mm:ss).
bool isTime(const QString& text);

// The tray message for n missed calls: "1 call while disconnected", "3 calls ...".
QString summary(qsizetype count);

} // namespace missedcalls
