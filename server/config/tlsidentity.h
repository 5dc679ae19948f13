#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// The server's TLS certificate and key: read from their files, and made for a new server.
namespace tlsidentity {

struct Identity {
    QSslCertificate certificate;
    QList<QSslCertificate> chain; // what the certificate file holds after the first one
    QSslKey key;
};

// A key file is checked as a password file is (no access for other users); a certificate
// that is not PEM, a key that is encrypted or not the certificate's are refused, with why
// in *error.
bool load(const QString& certPath, const QString& keyPath, Identity* identity, QString* error);

// Makes a self-signed ECDSA (P-256) certificate for hostName and "localhost", valid for ten
// years, into certPath (0644) and its key into keyPath (0600). Existing files are not
// overwritten: false, with why in *error.
bool create(const QString& certPath, const QString& keyPath, const QString& hostName,
            QString* error);

// The fingerprint of the certificate's public key, as logged and as clients show it.
QString fingerprint(const QSslCertificate& certificate);

} // namespace tlsidentity
