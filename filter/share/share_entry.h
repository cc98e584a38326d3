// Decisions as they travel between filter instances through a Redis server,
// and the checks everything read back from it passes before it is applied.
//
// Two forms, both under the settings' Prefix:
//   key    "<Prefix>:d:<address>"  value "<holdUntil>,<state>,<origin>",
//          expiring when the hold ends: the decisions that still stand, read
//          by an instance that starts or reconnects;
//   stream "<Prefix>:decisions"    entries of the fields origin, address,
//          state and hold: the decisions as they are taken, followed by the
//          running instances.
// The address is the journal's text of it; the state the journal's digit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filter/settings/filter_settings.h"

namespace sentrel::share {

// One decision about one client.
struct Decision {
  std::string address;         // as the journal writes it
  std::uint8_t state = 0;      // 0 blocked, 2 allowed, 3 picture code
  std::uint32_t holdUntil = 0; // seconds since 1970, in the deciding filter's clock
};

// The farthest a hold end may lie ahead of now: the longest hold a module or
// the filter-wide Dateline can set (7 days), and an hour for clocks that
// differ between servers.
inline constexpr std::int64_t kMaxHoldAhead = 604800 + 3600;
// The longest address text accepted (an IPv6 prefix "ffff:...:ffff/128" is 43).
inline constexpr std::size_t kMaxAddressText = 63;
// The longest origin id accepted.
inline constexpr std::size_t kMaxOriginText = 64;
// The longest key value accepted (a longer one is read only this far).
inline constexpr std::size_t kMaxKeyValue = 128;

// What a read entry turned out to be.
enum class EntryCheck : std::uint8_t {
  Decision,  // a well-formed decision of another instance, still standing
  Own,       // this instance's own: nothing to apply
  Bad,       // anything else: skipped and counted
};

std::string DecisionKey(const std::string& prefix, std::string_view address);
std::string StreamKey(const std::string& prefix);
// The SCAN pattern of every decision key: the prefix with the pattern's
// special characters escaped, then ":d:*".
std::string DecisionKeyPattern(const std::string& prefix);

std::string KeyValue(const Decision& decision, std::string_view origin);

// Checks the value of the key "<prefix>:d:<address>". `now` is the reading
// filter's time.
EntryCheck CheckKeyEntry(const std::string& prefix, std::string_view key, std::string_view value,
                         std::string_view self, std::int64_t now, Decision& out);

// Checks a stream entry's field-value pairs.
EntryCheck CheckStreamEntry(const std::vector<std::pair<std::string_view, std::string_view>>& fields,
                            std::string_view self, std::int64_t now, Decision& out);

// Where the server is: a Unix socket when the text holds a "/", else
// "host:port" (a missing port is 6379; an IPv6 host in brackets).
struct Endpoint {
  std::string host;
  int port = 6379;
  std::string socketPath;
};
bool ParseServer(const std::string& text, Endpoint& out);

}  // namespace sentrel::share
