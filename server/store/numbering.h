#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// The site's numbering plan: its country and area code, which make a number written
// nationally ("030 1234567"), internationally ("+49 30 1234567", "004930 1234567") or
// locally ("1234567") the same international number. Without a country nothing is
// rewritten, and numbers match only as they are written.
class Numbering final {
public:
    // country: a two-letter region ("DE"); areaCode: digits without the trunk prefix ("30").
    Numbering(const QString& country = QString(), const QString& areaCode = QString());
    ~Numbering();

    // Whether the country is one the phone number library knows (an empty one is not).
    static bool isCountry(const QString& country);

    bool isSet() const { return !m_country.isEmpty(); }

    // The number in international form ("+49301234567"); empty for a number that is
    // withheld, not a valid number here, or when no country is set.
    QString international(const QString& written) const;

    // The digits of every usual way of writing that international number at this site:
    // "49301234567", "0049301234567", "0301234567", "1234567" for the one above in
    // Berlin. A stored number with these digits is a candidate, to be confirmed by its
    // own international form.
    QStringList writtenDigits(const QString& international) const;

private:
    QString m_country;
    QString m_areaCode;
};
