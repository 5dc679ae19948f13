#pragma once

#include <QString>

// The server's log: one time-stamped line per event on standard output.
namespace serverlog {

void write(const QString& line);
// Benchmarks switch the log off; it is on by default.
void setEnabled(bool enabled);

} // namespace serverlog
