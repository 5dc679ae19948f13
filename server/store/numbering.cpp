#include "numbering.h"

#include "contact.h"

#include <phonenumbers/phonenumberutil.h>

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

namespace {

PhoneNumberUtil& util()
{
    return *PhoneNumberUtil::GetInstance();
}

// The number when it parses as a valid one for the region.
bool parsed(const QString& text, const QString& region, PhoneNumber* number)
{
    return util().Parse(text.toStdString(), region.toStdString(), number) ==
               PhoneNumberUtil::NO_PARSING_ERROR &&
           util().IsValidNumber(*number);
}

QString trunkPrefix(const QString& region)
{
    std::string prefix;
    util().GetNddPrefixForRegion(region.toStdString(), true, &prefix);
    return QString::fromStdString(prefix);
}

} // namespace

Numbering::Numbering(const QString& country, const QString& areaCode)
    : m_country(isCountry(country) ? country.toUpper() : QString()),
      m_areaCode(digitsOnly(areaCode))
{
}

Numbering::~Numbering() = default;

bool Numbering::isCountry(const QString& country)
{
    return country.size() == 2 &&
           util().GetCountryCodeForRegion(country.toUpper().toStdString()) != 0;
}

QString Numbering::international(const QString& written) const
{
    const QString text = written.trimmed();
    const QString digits = digitsOnly(text);
    // Withheld ("Private", "P") and other words have no digits; a number of more than 17
    // digits is none anywhere.
    if (!isSet() || digits.isEmpty() || digits.size() > 17)
        return QString();
    PhoneNumber number;
    const QString trunk = trunkPrefix(m_country);
    // Written without any prefix: a local number, in the site's area first.
    const bool bare = !text.startsWith(QLatin1Char('+')) &&
                      (trunk.isEmpty() || !digits.startsWith(trunk)) &&
                      !digits.startsWith(QLatin1String("00"));
    const bool local =
        bare && !m_areaCode.isEmpty() && parsed(trunk + m_areaCode + digits, m_country, &number);
    if (!local && !parsed(text, m_country, &number))
        return QString();
    std::string e164;
    util().Format(number, PhoneNumberUtil::E164, &e164);
    return QString::fromStdString(e164);
}

QStringList Numbering::writtenDigits(const QString& international) const
{
    PhoneNumber number;
    if (!isSet() || !parsed(international, m_country, &number))
        return {};
    std::string nsnText;
    util().GetNationalSignificantNumber(number, &nsnText);
    const QString nsn = QString::fromStdString(nsnText);
    const QString country = QString::number(number.country_code());
    // The international prefix: "00" almost everywhere, "011" in North America.
    QStringList forms{country + nsn, QStringLiteral("00") + country + nsn,
                      QStringLiteral("011") + country + nsn};
    if (number.country_code() == util().GetCountryCodeForRegion(m_country.toStdString())) {
        forms << trunkPrefix(m_country) + nsn << nsn;
        if (!m_areaCode.isEmpty() && nsn.startsWith(m_areaCode) && nsn.size() > m_areaCode.size())
            forms << nsn.mid(m_areaCode.size());
    }
    forms.removeDuplicates();
    return forms;
}
