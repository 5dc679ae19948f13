#include "searchjob.h"

#include "answers.h"

SearchJob::SearchJob(ContactStore& contacts, const requests::Search& request, qsizetype maxBytes)
    : m_contacts(contacts), m_request(request), m_maxBytes(maxBytes)
{
}

bool SearchJob::step()
{
    SearchIndex& index = m_contacts.searchIndex();
    if (!index.isLoaded()) {
        const qint64 before = index.loadedUpTo();
        m_contacts.indexLoadedBy(LoadedPerStep);
        // Until it is complete, unless the database could not be read: then what there is
        // is searched, as it would have been at once.
        if (!index.isLoaded() && index.loadedUpTo() != before)
            return false;
    }
    if (!m_scanning || index.generation() != m_generation) {
        m_scanning = true;
        m_generation = index.generation();
        m_scan = SearchIndex::beginScan(m_request.text);
    }
    index.scanOn(m_request.field, SearchedPerStep, m_scan);
    if (!m_scan.done)
        return false;
    m_reply = answers::searchReply(m_request, SearchIndex::matches(std::move(m_scan)), m_contacts,
                                   m_maxBytes);
    return true;
}
