#pragma once
// Finding the TCP port of a named SQL Server instance by asking the SQL Server Browser
// service on the host (UDP). FreeTDS can ask by itself, but it keeps retrying for about
// sixteen seconds whatever the connection's timeout; asking here keeps the job's
// Connect Timeout the limit for the whole open.

#include <optional>
#include <string>
#include <string_view>

namespace scourex::db {

inline constexpr int kSqlBrowserPort = 1434;

// The value of `key` (case-blind, the first one) in a browser reply to an instance query
// (0x05, 16-bit little-endian length, then `key;value;...` text), or nothing.
std::optional<std::string> BrowserReplyValue(std::string_view reply, std::string_view key);

// The "tcp" port in a browser reply, or nothing when the reply names none.
std::optional<int> TcpPortFromBrowserReply(std::string_view reply);

// Asks `host`'s browser for `instance` and returns its TCP port. The answer may come from
// another address than the one asked (a cluster answers from its node's own address); it
// must name the instance asked for. Waits at most `timeout_seconds` (0: a bounded
// default). Throws scourex::Error (errnum::kGeneral) naming the host and instance when no
// usable answer comes.
int ResolveInstancePort(const std::string& host, const std::string& instance, int timeout_seconds,
                        int browser_port = kSqlBrowserPort);

}  // namespace scourex::db
