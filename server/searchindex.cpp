#include "searchindex.h"

#include <algorithm>

void SearchIndex::clear()
{
    m_entries.clear();
    m_loaded = false;
}

SearchIndex::Entry SearchIndex::makeEntry(qint64 id, const Fields& fields)
{
    Entry entry;
    entry.id = id;
    entry.shown = !nameReadsAsNoMatch(fields[0]);
    for (size_t i = 0; i < fields.size(); ++i) {
        entry.starts[i] = int(entry.text.size());
        entry.text += fields[i].toCaseFolded();
        entry.text += Separator;
    }
    entry.starts[fields.size()] = int(entry.text.size());
    entry.text.squeeze();
    return entry;
}

void SearchIndex::put(qint64 id, const Fields& fields)
{
    Entry entry = makeEntry(id, fields);
    if (m_entries.empty() || m_entries.back().id < id) {
        m_entries.push_back(std::move(entry));
        return;
    }
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), id,
                               [](const Entry& e, qint64 key) { return e.id < key; });
    if (it != m_entries.end() && it->id == id)
        *it = std::move(entry);
    else
        m_entries.insert(it, std::move(entry));
}

SearchIndex::Matches SearchIndex::search(requests::SearchField field, const QString& text) const
{
    Matches matches;
    QList<qint64> unshown;
    const auto add = [&matches, &unshown](const Entry& e) {
        (e.shown ? matches.ids : unshown).append(e.id);
    };
    const QString needle = text.toCaseFolded();
    if (needle.isEmpty()) {
        matches.ids.reserve(qsizetype(m_entries.size()));
        for (const Entry& e : m_entries)
            add(e);
        return finish(std::move(matches), std::move(unshown));
    }
    const bool all = field == requests::SearchField::All;
    // A text without the separator can match the joined fields only inside one field.
    const bool joined = all && !needle.contains(Separator);
    const int first = all ? 0 : int(field) - 1;
    const int last = all ? 5 : first;
    for (const Entry& e : m_entries) {
        const QStringView whole(e.text);
        bool match = false;
        if (joined) {
            match = whole.contains(needle);
        } else {
            for (int f = first; f <= last && !match; ++f) {
                const int length = e.starts[size_t(f) + 1] - e.starts[size_t(f)] - 1;
                match = whole.mid(e.starts[size_t(f)], length).contains(needle);
            }
        }
        if (match)
            add(e);
    }
    return finish(std::move(matches), std::move(unshown));
}

SearchIndex::Matches SearchIndex::finish(Matches shown, QList<qint64> unshown)
{
    // The client could neither show nor browse to the others; only when it can show none
    // do they go out, so that the search still finds something.
    if (shown.ids.isEmpty())
        shown.ids = std::move(unshown);
    else
        shown.firstShown = shown.ids.first();
    return shown;
}
