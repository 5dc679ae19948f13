#include "contacttablejob.h"

#include <algorithm>

ContactTableJob::ContactTableJob(ContactStore& contacts, CallLog& calls,
                                 const requests::StatsRequest& request, qsizetype maxBytes)
    : m_contacts(contacts), m_calls(calls), m_topOnly(request.kind == requests::StatsKind::Top),
      m_wanted(m_topOnly ? request.count : requests::MaxCount),
      m_reply(request.kind, replies::ContactFields, maxBytes)
{
}

namespace {

// Whether a comes after b among the top callers.
bool after(const ContactTableJob::Score& a, const ContactTableJob::Score& b)
{
    if (a.calls != b.calls)
        return a.calls < b.calls;
    return a.id > b.id;
}

} // namespace

std::vector<ContactTableJob::Score>
ContactTableJob::topCallers(const QHash<qint64, qint64>& known,
                            const QHash<qint64, qint64>& unrecognised)
{
    std::vector<Score> scores;
    scores.reserve(static_cast<size_t>(known.size() + unrecognised.size()));
    for (auto it = known.cbegin(); it != known.cend(); ++it) {
        const qint64 unrec = unrecognised.value(it.key());
        scores.push_back({it.key(), it.value() + unrec, unrec});
    }
    for (auto it = unrecognised.cbegin(); it != unrecognised.cend(); ++it) {
        if (!known.contains(it.key()))
            scores.push_back({it.key(), it.value(), it.value()});
    }
    std::make_heap(scores.begin(), scores.end(), after);
    return scores;
}

ContactTableJob::Score ContactTableJob::takeTop(std::vector<Score>& heap)
{
    std::pop_heap(heap.begin(), heap.end(), after);
    const Score top = heap.back();
    heap.pop_back();
    return top;
}

void ContactTableJob::countSlice()
{
    const qint64 last = m_calls.countAfter(m_lastCall, CallsPerStep, m_known, m_unrecognised);
    if (last > 0) {
        m_lastCall = last;
        return;
    }
    // The whole log, or as much as could be read, as the contacts went without.
    m_counted = true;
    if (m_topOnly) {
        m_top = topCallers(m_known, m_unrecognised);
        m_known.clear();
        m_unrecognised.clear();
    }
}

bool ContactTableJob::step()
{
    if (!m_counted) {
        countSlice();
        return false;
    }
    return m_topOnly ? addTopCallers() : addContacts();
}

bool ContactTableJob::add(const Contact& contact, qint64 calls, qint64 unrecognised)
{
    return m_reply.add(replies::contactRecord({contact, calls, unrecognised}));
}

bool ContactTableJob::addTopCallers()
{
    const qsizetype start = m_reply.size();
    for (int n = 0; n < RowsPerStep && m_reply.size() - start < SliceBytes; ++n) {
        if (m_top.empty() || m_taken >= m_wanted)
            return true;
        const Score score = takeTop(m_top);
        ++m_taken;
        // A contact removed since its calls were counted is left out.
        if (const std::optional<Contact> c = m_contacts.find(score.id)) {
            if (!add(*c, score.calls, score.unrecognised))
                return true;
        }
    }
    return m_top.empty() || m_taken >= m_wanted;
}

bool ContactTableJob::addContacts()
{
    const qsizetype start = m_reply.size();
    int read = 0;
    bool full = false;
    const bool ok = m_contacts.forEachAfter(
        m_lastId,
        [&](const Contact& c) {
            if (m_reply.records() >= m_wanted)
                return false;
            const qint64 unrec = m_unrecognised.value(c.id);
            if (!add(c, m_known.value(c.id) + unrec, unrec)) {
                full = true;
                return false;
            }
            m_lastId = c.id;
            return ++read < RowsPerStep && m_reply.size() - start < SliceBytes;
        },
        RowsPerStep);
    // A slice that stopped short of its rows and bytes reached the end of the list.
    const bool sliceFull = read >= RowsPerStep || m_reply.size() - start >= SliceBytes;
    return !ok || full || m_reply.records() >= m_wanted || !sliceFull;
}
