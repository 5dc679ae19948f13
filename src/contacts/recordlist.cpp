#include "contacts/recordlist.h"

#include <limits>

namespace contacts {

namespace {

constexpr int LengthBits = 24;
constexpr qint64 LengthMask = (qint64(1) << LengthBits) - 1;

// The value of text that is exactly the plain decimal form of a 64-bit number: an
// optional "-", no leading zeros, and "0" alone for zero.
bool plainNumber(QStringView text, qint64* value)
{
    const bool negative = text.startsWith(QLatin1Char('-'));
    const QStringView digits = negative ? text.mid(1) : text;
    if (digits.isEmpty() || digits.size() > 19 ||
        (digits.front() == QLatin1Char('0') && (digits.size() > 1 || negative)))
        return false;
    const quint64 limit = quint64(std::numeric_limits<qint64>::max()) + (negative ? 1 : 0);
    quint64 magnitude = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        const quint64 digit = quint64(c.unicode() - '0');
        if (magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    if (!negative)
        *value = qint64(magnitude);
    else
        *value = magnitude == limit ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
    return true;
}

} // namespace

RecordList::RecordList(std::initializer_list<QString> entries)
{
    for (const QString& entry : entries)
        append(entry);
}

RecordList RecordList::fromStrings(const QStringList& entries)
{
    RecordList list;
    for (const QString& entry : entries)
        list.append(entry);
    return list;
}

void RecordList::append(QStringView entry)
{
    qint64 value = 0;
    if (plainNumber(entry, &value)) {
        m_values.push_back(value);
        m_isText.push_back(false);
        return;
    }
    // Offsets and lengths fit: a reply is at most 16 MiB.
    m_values.push_back(qint64(m_text.size()) << LengthBits | (entry.size() & LengthMask));
    m_isText.push_back(true);
    m_text.append(entry);
}

QString RecordList::at(qsizetype i) const
{
    const qint64 v = m_values[size_t(i)];
    if (!m_isText[size_t(i)])
        return QString::number(v);
    return m_text.mid(v >> LengthBits, v & LengthMask);
}

QStringList RecordList::toStringList() const
{
    QStringList list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i));
    return list;
}

RecordList::Key::Key(QStringView text) : m_text(text.toString())
{
    m_isNumber = plainNumber(text, &m_value);
}

bool RecordList::matches(qsizetype i, const Key& key) const
{
    const qint64 v = m_values[size_t(i)];
    if (!m_isText[size_t(i)])
        return key.m_isNumber && key.m_value == v;
    return !key.m_isNumber &&
           QStringView(m_text).mid(v >> LengthBits, v & LengthMask) == QStringView(key.m_text);
}

bool RecordList::operator==(const RecordList& other) const
{
    if (size() != other.size())
        return false;
    for (qsizetype i = 0; i < size(); ++i) {
        if (at(i) != other.at(i))
            return false;
    }
    return true;
}

} // namespace contacts
