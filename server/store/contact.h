#pragma once

#include <QString>
#include <QStringList>

// One stored contact. The four phone fields are the numbers a call is looked up by.
struct Contact {
    qint64 id = 0;
    QString name;
    QString home;
    QString mobile;
    QString email;
    QString businessPhone;
    QString businessFax;

    // The non-empty phone fields, trimmed, in the order home, mobile, business, fax.
    QStringList phoneNumbers() const;
    // True when every field is empty or spaces only.
    bool isBlank() const;
};

// The client reads every search reply whose text after "CNTAC:SEAR;" begins with this
// word as "nothing found", and a search reply begins with the shown contact's name.
inline const QString NoMatchWord = QStringLiteral("None");

// True when the name begins with NoMatchWord, so the client could never show the contact.
// Exact and case-sensitive, as the client's own test is: "none", "NONE" and " None" are
// harmless.
bool nameReadsAsNoMatch(const QString& name);

// Only the digits of a number: "+1 (555) 010-42" gives "155501042".
QString digitsOnly(const QString& number);
