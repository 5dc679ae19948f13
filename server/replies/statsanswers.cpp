#include "answers.h"

#include "calllistjob.h"
#include "contacttablejob.h"
#include "searchjob.h"
#include "session/protocol.h"

namespace answers {

std::unique_ptr<ReplyJob> begin(const QString& message, ContactStore& contacts, CallLog& calls,
                                qsizetype maxBytes, const SaveLimits& limits)
{
    using requests::StatsKind;
    switch (protocol::classify(message)) {
    case protocol::Kind::Stats: {
        const std::optional<requests::StatsRequest> request = requests::parseStats(message);
        if (!request)
            return nullptr; // an unknown statistic: the client gives up by itself
        if (request->kind == StatsKind::Last || request->kind == StatsKind::Unknown)
            return std::make_unique<CallListJob>(calls, *request, maxBytes);
        return std::make_unique<ContactTableJob>(contacts, calls, *request, maxBytes);
    }
    case protocol::Kind::Contacts: {
        // A search may look through every contact: it is made in slices. Saves and
        // malformed requests are answered at once.
        const requests::ContactsRequest request = requests::parseContacts(message);
        if (const auto* search = std::get_if<requests::Search>(&request))
            return std::make_unique<SearchJob>(contacts, *search, maxBytes);
        return std::make_unique<ReadyReply>(answers::contacts(message, contacts, maxBytes, limits));
    }
    default:
        return nullptr;
    }
}

std::optional<QString> answer(const QString& message, ContactStore& contacts, CallLog& calls,
                              qsizetype maxBytes, const SaveLimits& limits)
{
    const std::unique_ptr<ReplyJob> job = begin(message, contacts, calls, maxBytes, limits);
    if (!job)
        return std::nullopt;
    while (!job->step()) {
    }
    return protocol::decode(job->take());
}

} // namespace answers
