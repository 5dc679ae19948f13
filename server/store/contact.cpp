#include "contact.h"

QStringList Contact::phoneNumbers() const
{
    QStringList numbers;
    for (const QString* field : {&home, &mobile, &businessPhone, &businessFax}) {
        const QString number = field->trimmed();
        if (!number.isEmpty())
            numbers.append(number);
    }
    return numbers;
}

bool Contact::isBlank() const
{
    for (const QString* field : {&name, &home, &mobile, &email, &businessPhone, &businessFax}) {
        if (!field->trimmed().isEmpty())
            return false;
    }
    return true;
}

bool nameReadsAsNoMatch(const QString& name)
{
    return name.startsWith(NoMatchWord);
}

QString digitsOnly(const QString& number)
{
    QString digits;
    digits.reserve(number.size());
    for (const QChar c : number) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits.append(c);
    }
    return digits;
}
