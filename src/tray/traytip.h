#pragma once

#include <QString>

// The tooltip field of the tray record: a fixed field of 64 characters that holds the
// tooltip framed by one space on each side and ended by a NUL, padded with spaces.
namespace traytip {

constexpr int FieldLength = 64;

// " " + tip + " " + NUL, cut to 64 characters and padded with spaces after the NUL; an
// empty tip gives a NUL followed by spaces. A tip of up to 61 characters fits whole; a
// longer one loses its end and, past 61, its terminating NUL.
QString field(const QString& tip);

// The text the tray shows for a field: everything before the first NUL, or the whole
// field when it holds none.
QString shown(const QString& field);

} // namespace traytip
