#pragma once
// Looking a server's host name up within the connection's own limit. The system's
// resolver waits for a name server that never answers as long as its own configuration
// says (ten seconds and more per open on Linux's defaults), whatever the connection text
// allows; drivers give such a name up as "unknown", which sends the site to the name
// rather than to the name service.

#include <string>

namespace scourex::db {

// Waits at most `timeout_seconds` (at least one) for the system to answer for `host`.
// Returns once it has answered, whether it found the name or not: the driver then
// connects, or says the host is unknown, as it would. Throws scourex::Error
// (errnum::kGeneral) saying the name service did not answer in time, naming `host` and
// `server` (which must hold no secret), when it has not answered by then.
void AwaitHostName(const std::string& host, int timeout_seconds, const std::string& server);

}  // namespace scourex::db
