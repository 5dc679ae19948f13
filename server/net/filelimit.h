#pragma once

// The open-file limit and the number of clients it leaves room for: every client's
// connection is a file descriptor, and so are the database, the listening and control
// sockets and the connections still owing their password.
namespace filelimit {

// Descriptors kept for everything but authenticated clients.
inline constexpr long long Reserved = 64;

// Raises the process's soft open-file limit to its hard limit where that is allowed; the
// soft limit in force afterwards (-1 when it cannot be read, or there is none).
long long raiseToHard();

// How many clients the limit leaves room for, at most `wanted` and at least 1; `wanted`
// when the limit is unknown.
int clientsWithin(int wanted, long long fileLimit);

} // namespace filelimit
