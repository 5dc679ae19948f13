#include "contactstore.h"

#include <QSet>
#include <QVariant>
#include <limits>

namespace {

const QString SelectContact = QStringLiteral(
    "SELECT id, name, home, mobile, email, business_phone, business_fax FROM contacts");

Contact readContact(const QSqlQuery& query)
{
    Contact c;
    c.id = query.value(0).toLongLong();
    c.name = query.value(1).toString();
    c.home = query.value(2).toString();
    c.mobile = query.value(3).toString();
    c.email = query.value(4).toString();
    c.businessPhone = query.value(5).toString();
    c.businessFax = query.value(6).toString();
    return c;
}

SearchIndex::Fields indexFields(const Contact& c)
{
    return {c.name, c.home, c.mobile, c.email, c.businessPhone, c.businessFax};
}

// The stored fields in column order.
QVariantList fieldValues(const Contact& c)
{
    QVariantList values;
    for (const QString& f : indexFields(c))
        values << Database::text(f);
    return values;
}

} // namespace

std::optional<Contact> ContactStore::find(qint64 id)
{
    QSqlQuery& query = m_db.statement(SelectContact + QStringLiteral(" WHERE id = ?"));
    if (!m_db.exec(query, {id}))
        return std::nullopt;
    std::optional<Contact> found;
    if (query.next())
        found = readContact(query);
    query.finish();
    return found;
}

bool ContactStore::writeNumbers(const Contact& contact)
{
    QSqlQuery& clear =
        m_db.statement(QStringLiteral("DELETE FROM contact_numbers WHERE contact_id = ?"));
    if (!m_db.exec(clear, {contact.id}))
        return false;
    QSqlQuery& add = m_db.statement(QStringLiteral(
        "INSERT INTO contact_numbers (contact_id, number, digits) VALUES (?, ?, ?)"));
    QSet<QString> seen;
    for (const QString& number : contact.phoneNumbers()) {
        if (seen.contains(number))
            continue;
        seen.insert(number);
        if (!m_db.exec(add, {contact.id, number, Database::text(digitsOnly(number))}))
            return false;
    }
    return true;
}

std::optional<qint64> ContactStore::insert(const Contact& contact, qint64 most, bool* full)
{
    // Looked at first as well: a refused insert is rolled back, and that empties the search
    // index, which is read again whole for the next search.
    bool tooMany = most >= 0 && tally() >= most;
    Contact stored = contact;
    const bool ok = !tooMany && m_db.transaction([&] {
        QSqlQuery& query = m_db.statement(QStringLiteral(
            "INSERT INTO contacts (name, home, mobile, email, business_phone, business_fax)"
            " VALUES (?, ?, ?, ?, ?, ?) RETURNING id"));
        if (!m_db.exec(query, fieldValues(contact)))
            return false;
        stored.id = query.next() ? query.value(0).toLongLong() : 0;
        query.finish();
        // Counted with the insert, and locked until the transaction ends: other servers'
        // inserts wait for this one, and count it.
        if (most >= 0) {
            const qint64 held = tally();
            tooMany = held > most;
            if (held < 0 || tooMany)
                return false;
        }
        return stored.id > 0 && writeNumbers(stored) && m_db.tellContactsChanged();
    });
    if (full)
        *full = tooMany;
    if (!ok)
        return std::nullopt;
    index(stored);
    return stored.id;
}

ContactStore::UpdateResult ContactStore::update(const Contact& contact)
{
    bool found = false;
    const bool ok = m_db.transaction([&] {
        QSqlQuery& query = m_db.statement(QStringLiteral(
            "UPDATE contacts SET name = ?, home = ?, mobile = ?, email = ?, business_phone = ?,"
            " business_fax = ? WHERE id = ?"));
        if (!m_db.exec(query, fieldValues(contact) << contact.id))
            return false;
        found = query.numRowsAffected() == 1;
        return found && writeNumbers(contact) && m_db.tellContactsChanged();
    });
    if (ok) {
        index(contact);
        return UpdateResult::Updated;
    }
    return found ? UpdateResult::Failed : UpdateResult::NotFound;
}

void ContactStore::index(const Contact& contact)
{
    // Also while the index is loaded in slices: a contact put in before its slice is read
    // again from the database, and one read before is replaced.
    m_db.searchIndex().put(contact.id, indexFields(contact));
}

SearchIndex& ContactStore::indexLoadedBy(int rows)
{
    SearchIndex& index = m_db.searchIndex();
    if (index.isLoaded())
        return index;
    // Grown one contact at a time, the index would be moved whole every time it doubles.
    if (index.loadedUpTo() == 0)
        index.reserve(count());
    int read = 0;
    // Read no further than the slice: PostgreSQL hands over a statement's rows whole.
    const bool ok = forEachAfter(
        index.loadedUpTo(),
        [&](const Contact& c) {
            index.put(c.id, indexFields(c));
            index.setLoadedUpTo(c.id);
            return ++read < rows;
        },
        rows);
    if (ok && read < rows)
        index.setLoaded();
    return index;
}

SearchIndex::Matches ContactStore::search(requests::SearchField field, const QString& text)
{
    SearchIndex* index = &indexLoadedBy(std::numeric_limits<int>::max());
    return index->search(field, text);
}

std::optional<qint64> ContactStore::lookupBy(const QString& sql, const QString& value)
{
    QSqlQuery& query = m_db.statement(sql);
    if (!m_db.exec(query, {Database::text(value)}))
        return std::nullopt;
    std::optional<qint64> id;
    if (query.next())
        id = query.value(0).toLongLong();
    query.finish();
    return id;
}

std::optional<qint64> ContactStore::lookupInternational(const QString& international)
{
    // Stored numbers written any usual way share their digits with one of these forms;
    // their own international form tells which of them are the caller's.
    const QStringList forms = m_numbering->writtenDigits(international);
    if (forms.isEmpty())
        return std::nullopt;
    QStringList marks;
    QVariantList values;
    for (const QString& form : forms) {
        marks << QStringLiteral("?");
        values << Database::text(form);
    }
    QSqlQuery& query = m_db.statement(
        QStringLiteral("SELECT contact_id, number FROM contact_numbers WHERE digits IN (%1)"
                       " ORDER BY contact_id LIMIT 64")
            .arg(marks.join(QLatin1Char(','))));
    if (!m_db.exec(query, values))
        return std::nullopt;
    std::optional<qint64> id;
    while (!id && query.next()) {
        if (m_numbering->international(query.value(1).toString()) == international)
            id = query.value(0).toLongLong();
    }
    query.finish();
    return id;
}

std::optional<Contact> ContactStore::lookup(const QString& number)
{
    const QString exact = number.trimmed();
    if (exact.isEmpty())
        return std::nullopt;
    std::optional<qint64> id =
        lookupBy(QStringLiteral("SELECT contact_id FROM contact_numbers WHERE number = ?"
                                " ORDER BY contact_id LIMIT 1"),
                 exact);
    const QString international =
        id || !m_numbering ? QString() : m_numbering->international(exact);
    if (!international.isEmpty())
        id = lookupInternational(international);
    const QString digits = digitsOnly(exact);
    if (!id && !digits.isEmpty()) {
        id = lookupBy(QStringLiteral("SELECT contact_id FROM contact_numbers"
                                     " WHERE digits = ? ORDER BY contact_id LIMIT 1"),
                      digits);
    }
    if (!id)
        return std::nullopt;
    return find(*id);
}

qint64 ContactStore::count()
{
    QSqlQuery& query = m_db.statement(QStringLiteral("SELECT count(*) FROM contacts"));
    qint64 n = 0;
    if (m_db.exec(query) && query.next())
        n = query.value(0).toLongLong();
    query.finish();
    return n;
}

qint64 ContactStore::tally()
{
    QSqlQuery& query = m_db.statement(QStringLiteral("SELECT contacts FROM contact_tally"));
    qint64 n = -1;
    const bool read = m_db.exec(query);
    const bool found = read && query.next();
    if (found)
        n = query.value(0).toLongLong();
    query.finish();
    // Without its row (deleted by hand), counted.
    return found || !read ? n : count();
}

qint64 ContactStore::numberCount()
{
    QSqlQuery& query = m_db.statement(QStringLiteral("SELECT count(*) FROM contact_numbers"));
    qint64 n = 0;
    if (m_db.exec(query) && query.next())
        n = query.value(0).toLongLong();
    query.finish();
    return n;
}

QString ContactStore::numberAt(qint64 index)
{
    QSqlQuery& query =
        m_db.statement(QStringLiteral("SELECT number FROM contact_numbers ORDER BY ") +
                       m_db.numbersStoredOrder() + QStringLiteral(" LIMIT 1 OFFSET ?"));
    QString number;
    if (m_db.exec(query, {index}) && query.next())
        number = query.value(0).toString();
    query.finish();
    return number;
}

bool ContactStore::forEachWhere(const QString& condition, const QVariantList& values,
                                const std::function<bool(const Contact&)>& visit,
                                const QString& limit)
{
    QSqlQuery& query =
        m_db.statement(SelectContact + condition + QStringLiteral(" ORDER BY id") + limit);
    if (!m_db.exec(query, values))
        return false;
    while (query.next() && visit(readContact(query))) {
    }
    query.finish();
    return true;
}

bool ContactStore::forEach(const std::function<void(const Contact&)>& visit)
{
    return forEachWhere(QString(), {}, [&visit](const Contact& c) {
        visit(c);
        return true;
    });
}

bool ContactStore::forEachAfter(qint64 id, const std::function<bool(const Contact&)>& visit,
                                qint64 limit)
{
    if (limit < 0)
        return forEachWhere(QStringLiteral(" WHERE id > ?"), {id}, visit);
    return forEachWhere(QStringLiteral(" WHERE id > ?"), {id, limit}, visit,
                        QStringLiteral(" LIMIT ?"));
}

QList<Contact> ContactStore::withNoMatchNames()
{
    QList<Contact> found;
    // Compared case-sensitively, as nameReadsAsNoMatch does.
    forEachWhere(QStringLiteral(" WHERE substr(name, 1, ?) = ?"),
                 {int(NoMatchWord.size()), NoMatchWord}, [&found](const Contact& c) {
                     found.append(c);
                     return true;
                 });
    return found;
}
