#pragma once

#include <QByteArray>
#include <QString>

// What identifies a TLS server to a person and to the client: the SHA-256 of its public key
// (the DER of its SubjectPublicKeyInfo), so a renewed certificate for the same key keeps it.
namespace keyfingerprint {

// The pin the client keeps: 64 hexadecimal digits, upper case.
QString pin(const QByteArray& publicKeyDer);

// The pin as the server logs it and the client shows it: "SHA256 " and the digits in
// pairs, "AB:CD:...". A text that is not a pin comes back unchanged.
QString display(const QString& pin);
// The same in two lines of 16 pairs under "SHA256", for a box.
QString displayLines(const QString& pin);

// Whether the text is a pin (as pin() makes it).
bool isPin(const QString& text);

} // namespace keyfingerprint
