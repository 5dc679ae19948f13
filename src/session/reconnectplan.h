#pragma once

#include <QNetworkInformation>
#include <QString>

// When and how often the client tries to get a lost connection back. Pure: the random
// part of the delay comes in as a number, so the schedule can be checked exactly.
namespace reconnectplan {

// No limit on the number of attempts.
constexpr int Unlimited = 0;
constexpr int DefaultAttempts = 5;

// The stored attempt count: a whole number from 0 (no limit) up; empty or anything else
// means the default.
int attemptsFrom(const QString& setting);

// The pause before attempt n (from 1): 1, 2, 4, 8, 16, 32 s, then 60 s each, shortened
// or lengthened by up to a fifth: jitter runs from -1 (a fifth shorter) to 1 (a fifth
// longer). In milliseconds.
int delayMilliseconds(int attempt, double jitter);

// "attempt 3 of 5", or "attempt 3" without a limit.
QString attemptText(int attempt, int attempts);

// Whole seconds left, rounded up, for what a person reads ("Reconnecting in 8 s").
int secondsLeft(qint64 milliseconds);

// Whether a change of the network's reachability is the network coming back, worth a
// retry at once: from none (or only the link) to one that reaches other hosts. The
// first word of a watcher that knew nothing yet, or the internet coming and going on a
// network that was there all along, is not.
bool networkCameBack(QNetworkInformation::Reachability before,
                     QNetworkInformation::Reachability now);

} // namespace reconnectplan
