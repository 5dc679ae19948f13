#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The format of the server's configuration file: `key = value` lines. Blanks around key
// and value are ignored, and so are blank lines and lines that begin with `#` or `;`.
// What the keys mean is up to the caller.
namespace configfile {

inline constexpr qint64 MaxBytes = 64 * 1024;

struct Entry {
    int line = 0; // counted from 1
    QString key;
    QString value;
};

// The entries in the file's bytes, in file order. False, with *error as
// "line N: ...", when a line is not of the form above or the text is not UTF-8.
bool parse(const QByteArray& text, QList<Entry>* entries, QString* error);

// Reads and parses the file at path (at most MaxBytes); errors name the file.
bool read(const QString& path, QList<Entry>* entries, QString* error);

} // namespace configfile
