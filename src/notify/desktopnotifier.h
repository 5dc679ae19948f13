#pragma once

#include <QObject>
#include <QString>
#include <functional>

// Calls, and the calls missed while disconnected, told through the desktop's notification
// service (org.freedesktop.Notifications on the session bus) when the user has asked for it
// ("Also notify through the desktop"). Nothing waits for the bus: a notification is sent and
// its id learnt from the reply later. Without D-Bus, or with the setting off, nothing is sent.
namespace desktopnotifier {

// Longest number and name put into a notification, in characters; longer ones are cut.
constexpr int MaxNumberLength = 40;
constexpr int MaxNameLength = 80;

// The text of a notification's body: the number, and the name on a line of its own, each
// cut to its length, control characters as spaces, and escaped for the body's markup.
QString body(const QString& number, const QString& name);

// A call's pop-up has been shown. The same key as the call before replaces that call's
// notification; another key starts a new one.
void call(const QString& key, const QString& number, const QString& name);

// The summary of the calls missed while disconnected, replacing the previous summary.
// When it does not go to the desktop (setting off, no bus, or the service turns it away)
// `otherwise` runs instead, now or later, unless `context` is gone by then.
void missedCalls(const QString& text, QObject* context, const std::function<void()>& otherwise);

} // namespace desktopnotifier
