#pragma once

#include <QString>

// Text the server did not write (names from the database, numbers rung, what a running
// server answers the ring command), made safe to print to its log and to a terminal: pure
// functions.
namespace printable {

// C0 and C1 control characters (U+0000 to U+001F, U+007F to U+009F) and the bidirectional
// controls (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069): a line end, an
// escape sequence or a change of writing direction in a text, where they are printed as they
// are. A saved contact field may hold none of them.
bool isControl(QChar c);

// The text with each such character written as an escape, "\x1b" below U+0100 and "\u202e"
// above; everything else, backslashes too, stays as it is, so escaping twice changes
// nothing. For reading, not for undoing.
QString escaped(const QString& text);

} // namespace printable
