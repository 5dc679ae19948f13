#pragma once

#include <QByteArray>
#include <QString>

// The settings file as a whole: finds and replaces "Key=value" lines in a "[Section]".
//
// Lines are read one by one: "[Name]" starts a section, a line whose first non-blank
// character is ';' or '#' is a comment, and any other line with an '=' is "Key=value"
// (the key up to the first '=', blanks around it ignored). Every other line is kept as it
// is. A key given more than once counts with its last line.
namespace inifile {

// The text of the key in the section, or a null text when the file has none.
QString value(const QByteArray& file, const QString& section, const QString& key);

// The file with the key set to the text. Only that key's line changes; a new key goes
// after the last key of its section, a new section at the end of the file. Every other
// byte stays as it was.
QByteArray withValue(const QByteArray& file, const QString& section, const QString& key,
                     const QString& text);

} // namespace inifile
