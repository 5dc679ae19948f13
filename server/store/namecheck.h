#pragma once

#include "contactstore.h"

// Contacts saved before names beginning with NoMatchWord were refused can never be shown
// by the client (see nameReadsAsNoMatch). At start-up the server lists them in its log,
// one line each, so the operator can rename them.
namespace namecheck {

// Writes one log line per such contact; nothing when there are none.
void logNoMatchNames(ContactStore& contacts);

} // namespace namecheck
