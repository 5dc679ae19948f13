#pragma once

#include <QtGlobal>

// TCP keep-alive on the connection, with short probe intervals, so that the system
// notices a peer that vanished without closing (power lost, cable pulled) within about
// a minute and a half, while the connection is quiet as well as while data waits to be
// acknowledged. What the system then reports arrives as an ordinary socket error.
namespace keepalive {

struct Times {
    int idleSeconds = 30;      // quiet time before the first probe
    int intervalSeconds = 10;  // between probes
    int probes = 5;            // unanswered probes before the connection is given up
    int userTimeoutMs = 90000; // unacknowledged data given up after this long
};

// The times used for new connections (tests shorten them).
Times& times();

// Applies the times to a connected TCP socket; false where the system refused.
bool apply(qintptr descriptor, const Times& times);

} // namespace keepalive
