#pragma once

#include <QString>

// Handles one message from the server: the greeting, keep-alive probes, calls, and the
// statistics and contacts replies. Anything else is dropped silently.
void sckConnect_DataArrival(const QString& message);
