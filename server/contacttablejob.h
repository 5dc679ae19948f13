#pragma once

#include "calllog.h"
#include "contactstore.h"
#include "replyjob.h"
#include "requests.h"
#include "statsreply.h"

#include <QHash>
#include <vector>

// "STATS:TOPS" and "STATS:CNTS": the first step counts every contact's calls; then the
// contacts are read and added a slice at a time, in ID order for the contact list and by
// their calls, most first, for the top callers.
class ContactTableJob final : public ReplyJob {
public:
    ContactTableJob(ContactStore& contacts, CallLog& calls, const requests::StatsRequest& request,
                    qsizetype maxBytes);

    bool step() override;
    qsizetype size() const override { return m_reply.size(); }
    QByteArray take() override { return m_reply.take(); }

    // A contact's calls: all from its numbers, and those of them no contact matched when
    // they came in.
    struct Score {
        qint64 id = 0;
        qint64 calls = 0;
        qint64 unrecognised = 0;
    };
    // The contacts with at least one call, most calls first (the lower ID first among
    // equals); at most `limit`.
    static std::vector<Score> topCallers(const QHash<qint64, qint64>& known,
                                         const QHash<qint64, qint64>& unrecognised, int limit);

private:
    bool addTopCallers();
    bool addContacts();
    // Adds the contact's record; false when the reply has no room for it.
    bool add(const Contact& contact, qint64 calls, qint64 unrecognised);

    ContactStore& m_contacts;
    CallLog& m_calls;
    bool m_topOnly;
    int m_wanted;
    StatsReply m_reply;
    bool m_counted = false;
    QHash<qint64, qint64> m_known;
    QHash<qint64, qint64> m_unrecognised;
    std::vector<Score> m_top;
    size_t m_nextTop = 0;
    qint64 m_lastId = 0; // the last contact of the list read so far
};
