#pragma once

#include "calllog.h"
#include "contactstore.h"
#include "replyjob.h"
#include "requests.h"
#include "statsreply.h"

#include <QHash>
#include <vector>

// "STATS:TOPS" and "STATS:CNTS": the first steps count every contact's calls, a slice of
// the call log each; then the contacts are read and added a slice at a time, in ID order
// for the contact list and by their calls, most first, for the top callers.
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
    // The contacts with at least one call, as a heap whose front is the contact with the
    // most calls (the lower ID first among equals): taken off it a slice at a time, they
    // come in order without the whole list being sorted at once.
    static std::vector<Score> topCallers(const QHash<qint64, qint64>& known,
                                         const QHash<qint64, qint64>& unrecognised);
    static Score takeTop(std::vector<Score>& heap);

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
    static constexpr int CallsPerStep = 8 * RowsPerStep;
    void countSlice();

    bool m_counted = false;
    qint64 m_lastCall = 0; // the last call counted
    QHash<qint64, qint64> m_known;
    QHash<qint64, qint64> m_unrecognised;
    std::vector<Score> m_top; // a heap, see topCallers
    int m_taken = 0;          // taken off it
    qint64 m_lastId = 0;      // the last contact of the list read so far
};
