#pragma once

#include <QByteArray>
#include <QString>

// The password kept in a file of its own, so that it never has to be on the command line.
namespace passwordfile {

// A password file holds one line; anything longer than this is not a password file.
inline constexpr qint64 MaxBytes = 4096;

// The password in the file's bytes: one trailing "\n" or "\r\n" is removed, nothing else.
// Empty, with why in *error, when the bytes hold no password or more than one line.
QString passwordIn(const QByteArray& bytes, const QString& path, QString* error);

// Reads the password from the file at path. Refuses, with why in *error, a file that is
// missing or unreadable, not a regular file, larger than MaxBytes, or open to users other
// than its owner and group (any of mode 0007).
QString read(const QString& path, QString* error);

// The bytes of a file that holds a secret (`what` names it in messages, such as "password
// file"), refused as read() refuses a password file; up to maxBytes.
QByteArray readPrivate(const QString& path, const QString& what, qint64 maxBytes, QString* error);

} // namespace passwordfile
