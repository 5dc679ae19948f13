#pragma once

#include "printable.h"

#include <QString>

// The server's log: one time-stamped line per event on standard output.
namespace serverlog {

// Control characters in the line are written escaped (printable::escaped).
void write(const QString& line);
// Benchmarks switch the log off; it is on by default.
void setEnabled(bool enabled);

} // namespace serverlog
