#pragma once

#include "contact.h"
#include "database.h"
#include "numbering.h"
#include "requests.h"

#include <QList>
#include <optional>

// The contacts of the database: reading, saving, searching and looking up by number.
class ContactStore final {
public:
    explicit ContactStore(Database& db) : m_db(db) {}

    std::optional<Contact> find(qint64 id);

    // Inserts a new contact with its numbers in one transaction; the new ID, or nothing
    // when the write failed or, with *full set, when the database holds `most` contacts
    // already (-1: no limit), servers that share it and other programs' contacts counted.
    std::optional<qint64> insert(const Contact& contact, qint64 most = -1, bool* full = nullptr);

    enum class UpdateResult { Updated, NotFound, Failed };
    // Replaces a stored contact and its numbers in one transaction.
    UpdateResult update(const Contact& contact);

    // The contacts whose field contains the text, ignoring case, in ID order. An empty
    // text matches every contact.
    SearchIndex::Matches search(requests::SearchField field, const QString& text);
    // The search index, read from the database up to `rows` more contacts when it is not
    // complete yet: a search of many contacts loads it a slice at a time, and searches
    // once it is loaded.
    SearchIndex& indexLoadedBy(int rows);
    SearchIndex& searchIndex() { return m_db.searchIndex(); }

    // The contacts whose name begins with NoMatchWord (see nameReadsAsNoMatch), in ID
    // order; nothing when they cannot be read.
    QList<Contact> withNoMatchNames();

    // The contact a calling number belongs to: a phone field equal to the number first,
    // then one that is the same number however written (with a site numbering), then one
    // with the same digits. The lowest ID wins when several match.
    std::optional<Contact> lookup(const QString& number);
    // The site's numbering plan, for the lookup; it must outlive the store.
    void setNumbering(const Numbering* numbering) { m_numbering = numbering; }

    qint64 count();
    // The number of contacts as the database keeps it (see schema.cpp), read rather than
    // counted; -1 when it cannot be read.
    qint64 tally();
    // The stored phone number at a position of all stored numbers (for simulated calls).
    QString numberAt(qint64 index);
    qint64 numberCount();

    // Every contact in ID order, handed to the visitor one at a time.
    bool forEach(const std::function<void(const Contact&)>& visit);
    // The contacts with a higher ID than the one given, in ID order, until the visitor
    // returns false or `limit` of them have been read (-1: no limit).
    bool forEachAfter(qint64 id, const std::function<bool(const Contact&)>& visit,
                      qint64 limit = -1);

private:
    bool writeNumbers(const Contact& contact);
    // Keeps the search index in step with a written contact.
    void index(const Contact& contact);
    std::optional<qint64> lookupBy(const QString& sql, const QString& value);
    std::optional<qint64> lookupInternational(const QString& international);
    // Every contact that meets the SQL condition (empty: all), in ID order, until the
    // visitor returns false.
    bool forEachWhere(const QString& condition, const QVariantList& values,
                      const std::function<bool(const Contact&)>& visit,
                      const QString& limit = QString());

    Database& m_db;
    const Numbering* m_numbering = nullptr;
};
