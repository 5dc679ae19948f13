#pragma once

// The server's answers to statistics and contacts requests, read from and written to
// the database.

#include "calllog.h"
#include "contactstore.h"
#include "replies.h"
#include "replyjob.h"
#include "saverate.h"

#include <QString>
#include <memory>
#include <optional>

namespace answers {

// What a client may save; the defaults let it save anything. A contact already stored can be
// saved again when the database holds maxContacts.
struct SaveLimits {
    qint64 maxContacts = -1;  // the most the database may hold (-1: no limit)
    SaveRate* rate = nullptr; // every client's saves in the last minute (nullptr: no limit)
    QHostAddress client;      // whose save this is
};

// The reply to whatever an authenticated client sent, to be built by calling step() until
// it is complete; nothing for a message that gets no answer (keep-alive answers, unknown
// kinds). No reply is longer than maxBytes.
std::unique_ptr<ReplyJob> begin(const QString& message, ContactStore& contacts, CallLog& calls,
                                qsizetype maxBytes = replies::MaxReplyBytes,
                                const SaveLimits& limits = {});

// The same reply built at once, as text.
std::optional<QString> answer(const QString& message, ContactStore& contacts, CallLog& calls,
                              qsizetype maxBytes = replies::MaxReplyBytes,
                              const SaveLimits& limits = {});

// The reply to any "CNTAC:" request, encoded: a search or browse result, a save
// confirmation, or "CNTAC:ERRO;" with the reason.
QByteArray contacts(const QString& message, ContactStore& contacts, qsizetype maxBytes,
                    const SaveLimits& limits = {});

// The reply to a search or browse request whose matches have been found.
QByteArray searchReply(const requests::Search& request, const SearchIndex::Matches& matches,
                       ContactStore& contacts, qsizetype maxBytes);

} // namespace answers
