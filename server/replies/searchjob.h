#pragma once

#include "contactstore.h"
#include "replyjob.h"
#include "requests.h"

// "CNTAC:SEAR": a contact search, or a browse to one record of its list, done in slices:
// the search index is read from the database a slice of contacts per step where it is not
// loaded yet, then searched a slice per step. Saves between two steps are searched as
// they are by then; a search whose index was cleared meanwhile begins again.
class SearchJob final : public ReplyJob {
public:
    SearchJob(ContactStore& contacts, const requests::Search& request, qsizetype maxBytes);

    bool step() override;
    qsizetype size() const override { return m_reply.size(); }
    QByteArray take() override { return std::exchange(m_reply, QByteArray()); }

    static constexpr int LoadedPerStep = 4 * RowsPerStep;
    static constexpr int SearchedPerStep = 64 * RowsPerStep;

private:
    ContactStore& m_contacts;
    requests::Search m_request;
    qsizetype m_maxBytes;
    SearchIndex::Scan m_scan;
    quint64 m_generation = 0;
    bool m_scanning = false;
    QByteArray m_reply;
};
