#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

namespace contacts {

// The record IDs a search found, in the order the server listed them. A reply may list
// millions, so each is held as a 64-bit number where its text is the plain decimal form
// of one ("57", "-3", "0"); any other entry ("NEW", "007", "x") keeps its text. Entries
// compare by their text, as they came.
class RecordList {
public:
    RecordList() = default;
    RecordList(std::initializer_list<QString> entries);
    static RecordList fromStrings(const QStringList& entries);

    void append(QStringView entry);
    qsizetype size() const { return qsizetype(m_values.size()); }
    bool isEmpty() const { return m_values.empty(); }
    QString at(qsizetype i) const;
    QStringList toStringList() const;

    // An entry's text to look for, worked out once for a whole walk of the list.
    class Key {
    public:
        explicit Key(QStringView text);

    private:
        friend class RecordList;
        QString m_text;
        bool m_isNumber = false;
        qint64 m_value = 0;
    };
    bool matches(qsizetype i, const Key& key) const;

    bool operator==(const RecordList& other) const;
    bool operator!=(const RecordList& other) const { return !(*this == other); }

private:
    // A number, or for other text its place in m_text: offset << 24 | length.
    std::vector<qint64> m_values;
    std::vector<bool> m_isText;
    QString m_text;
};

} // namespace contacts
