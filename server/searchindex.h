#pragma once

#include "requests.h"

#include <QList>
#include <QString>
#include <array>
#include <vector>

// The contacts' six fields, case-folded, held in memory for the contact search: a
// substring search over 100,000 contacts must answer within a few milliseconds, which a
// table scan of the database file cannot. The database stays the record; this is built
// from it and follows every change the server writes.
class SearchIndex final {
public:
    using Fields = std::array<QString, 6>; // name, home, mobile, e-mail, business, fax

    bool isLoaded() const { return m_loaded; }
    // Forgets everything; the next search reloads it from the database.
    void clear();
    // Marks the index as complete once every contact has been put in.
    void setLoaded() { m_loaded = true; }

    // Adds or replaces a contact's fields.
    void put(qint64 id, const Fields& fields);

    struct Matches {
        QList<qint64> ids;     // ascending
        qint64 firstShown = 0; // the first of them, or 0 when the client can show none
    };
    // The contacts whose chosen field (any field for All) contains the text, ignoring
    // case; an empty text matches every contact. Contacts the client cannot show (see
    // nameReadsAsNoMatch) are left out, unless no other matches.
    Matches search(requests::SearchField field, const QString& text) const;

    qsizetype size() const { return qsizetype(m_entries.size()); }

private:
    // One contact: its folded fields joined by Separator, and where each one starts.
    struct Entry {
        qint64 id = 0;
        QString text;
        std::array<int, 7> starts{};
        bool shown = true; // false when its name reads as "nothing found" to the client
    };
    static constexpr QChar Separator = QChar(0x1F);

    static Entry makeEntry(qint64 id, const Fields& fields);
    static Matches finish(Matches shown, QList<qint64> unshown);

    std::vector<Entry> m_entries; // ordered by ID
    bool m_loaded = false;
};
