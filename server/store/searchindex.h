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
    // While it is loaded a slice at a time: the last contact read from the database.
    qint64 loadedUpTo() const { return m_loadedUpTo; }
    void setLoadedUpTo(qint64 id) { m_loadedUpTo = id; }
    // Changes whenever the index is cleared, so that a search made in slices can tell
    // that it has to begin again.
    quint64 generation() const { return m_generation; }

    void reserve(qsizetype contacts) { m_entries.reserve(size_t(contacts)); }
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

    // The same search a slice at a time, so that a search of many contacts can share the
    // server's time with others.
    struct Scan {
        QString needle;       // the text, case-folded
        QList<qint64> shown;  // the matches so far, ascending
        QList<qint64> hidden; // those of them the client cannot show
        qint64 lastId = 0;    // the last contact looked at
        bool done = false;
    };
    static Scan beginScan(const QString& text);
    // Looks at up to `entries` contacts after scan.lastId; done once none are left.
    void scanOn(requests::SearchField field, int entries, Scan& scan) const;
    static Matches matches(Scan scan);

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
    static bool hasMatch(const Entry& e, requests::SearchField field, const QString& needle);

    std::vector<Entry> m_entries; // ordered by ID
    bool m_loaded = false;
    qint64 m_loadedUpTo = 0;
    quint64 m_generation = 0;
};
