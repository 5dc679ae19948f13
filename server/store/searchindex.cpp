#include "searchindex.h"

#include <algorithm>

void SearchIndex::clear()
{
    m_entries.clear();
    m_loaded = false;
    m_loadedUpTo = 0;
    ++m_generation;
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
    Scan scan = beginScan(text);
    scanOn(field, int(m_entries.size()), scan);
    return matches(std::move(scan));
}

SearchIndex::Scan SearchIndex::beginScan(const QString& text)
{
    Scan scan;
    scan.needle = text.toCaseFolded();
    return scan;
}

bool SearchIndex::hasMatch(const Entry& e, requests::SearchField field, const QString& needle)
{
    if (needle.isEmpty())
        return true;
    const QStringView whole(e.text);
    // A text without the separator can match the joined fields only inside one field.
    const bool all = field == requests::SearchField::All;
    if (all && !needle.contains(Separator))
        return whole.contains(needle);
    const int first = all ? 0 : int(field) - 1;
    const int last = all ? 5 : first;
    for (int f = first; f <= last; ++f) {
        const int length = e.starts[size_t(f) + 1] - e.starts[size_t(f)] - 1;
        if (whole.mid(e.starts[size_t(f)], length).contains(needle))
            return true;
    }
    return false;
}

void SearchIndex::scanOn(requests::SearchField field, int entries, Scan& scan) const
{
    // By ID rather than position: contacts saved between two slices move the positions.
    auto it = std::upper_bound(m_entries.begin(), m_entries.end(), scan.lastId,
                               [](qint64 key, const Entry& e) { return key < e.id; });
    for (int n = 0; n < entries && it != m_entries.end(); ++n, ++it) {
        if (hasMatch(*it, field, scan.needle))
            (it->shown ? scan.shown : scan.hidden).append(it->id);
        scan.lastId = it->id;
    }
    scan.done = it == m_entries.end();
}

SearchIndex::Matches SearchIndex::matches(Scan scan)
{
    // The client could neither show nor browse to the others; only when it can show none
    // do they go out, so that the search still finds something.
    Matches result;
    if (scan.shown.isEmpty()) {
        result.ids = std::move(scan.hidden);
    } else {
        result.ids = std::move(scan.shown);
        result.firstShown = result.ids.first();
    }
    return result;
}
