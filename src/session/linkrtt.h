#pragma once

#include <QtGlobal>

// The round-trip time the system has measured on a connected TCP socket, in whole
// milliseconds rounded up; -1 where the system does not tell.
int linkRttMs(qintptr descriptor);
