#pragma once

// The server's answers to statistics and contacts requests, read from and written to
// the database.

#include "calllog.h"
#include "contactstore.h"
#include "requests.h"

#include <QString>
#include <optional>

namespace answers {

// The reply to "STATS:LAST", "STATS:UNKN", "STATS:TOPS" or "STATS:CNTS".
QString stats(const requests::StatsRequest& request, ContactStore& contacts, CallLog& calls);

// Every contact with its call counts; the top callers (at least one call) ordered by
// their calls, most first, or the whole list in ID order. At most `limit` rows.
QList<replies::ContactRow> contactRows(ContactStore& contacts, CallLog& calls, bool topOnly,
                                       int limit);

// The reply to any "CNTAC:" request: a search or browse result, a save confirmation,
// or "CNTAC:ERRO;" with the reason.
QString contacts(const QString& message, ContactStore& contacts);

// The reply to whatever an authenticated client sent, or nothing for a message that
// gets no answer (keep-alive answers, unknown kinds).
std::optional<QString> answer(const QString& message, ContactStore& contacts, CallLog& calls);

} // namespace answers
