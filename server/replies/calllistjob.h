#pragma once

#include "calllog.h"
#include "replyjob.h"
#include "requests.h"
#include "statsreply.h"

#include <optional>

// "STATS:LAST" and "STATS:UNKN": the newest calls, read from the call log a slice at a
// time, each slice beginning after the last call of the one before.
class CallListJob final : public ReplyJob {
public:
    CallListJob(CallLog& calls, const requests::StatsRequest& request, qsizetype maxBytes);

    bool step() override;
    qsizetype size() const override { return m_reply.size(); }
    QByteArray take() override { return m_reply.take(); }

private:
    CallLog& m_calls;
    bool m_unknownOnly;
    int m_wanted;
    StatsReply m_reply;
    std::optional<replies::CallRow> m_last; // the last call added
};
