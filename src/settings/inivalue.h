#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// One value of the settings file, between its text and the bytes after "Key=".
//
// Written values take the quoting and escapes that earlier versions of the program used
// (through QSettings' INI format), so those versions read them back as the same text.
// Reading accepts that form and a hand-typed value alike; see README.md for the rules.
namespace inivalue {

// The bytes that follow "Key=" for this text; never holds a line break.
QByteArray encode(const QString& text);

// The text of the bytes that follow "Key=" (surrounding blanks and line ending included).
QString decode(QByteArrayView field);

} // namespace inivalue
