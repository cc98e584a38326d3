#include "filter/share/share_entry.h"

#include <charconv>

namespace sentrel::share {

namespace {

// Address text as the journal writes it: digits, hexadecimal letters, dots,
// colons and the "/" of a prefix. The filter's journal parser has the last
// word on it; this only keeps other bytes away from it.
bool PlausibleAddress(std::string_view text) {
  if (text.empty() || text.size() > kMaxAddressText) return false;
  for (char c : text) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' ||
                    c == ':' || c == '/';
    if (!ok) return false;
  }
  return true;
}

bool ParseState(std::string_view text, std::uint8_t& state) {
  if (text.size() != 1) return false;
  switch (text[0]) {
    case '0':
    case '2':
    case '3':
      state = static_cast<std::uint8_t>(text[0] - '0');
      return true;
    default:
      return false;  // 1 is no decision; anything else is no state
  }
}

// Decimal digits only, a hold that has not ended and ends no later than the
// longest hold allows.
bool ParseHold(std::string_view text, std::int64_t now, std::uint32_t& hold) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return false;
  const auto v = static_cast<std::int64_t>(value);
  if (v <= now || v > now + kMaxHoldAhead) return false;
  hold = static_cast<std::uint32_t>(value);
  return true;
}

bool PlausibleOrigin(std::string_view text) {
  if (text.empty() || text.size() > kMaxOriginText) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F || c == ',') return false;
  }
  return true;
}

EntryCheck Finish(std::string_view origin, std::string_view address, std::string_view state,
                  std::string_view hold, std::string_view self, std::int64_t now, Decision& out) {
  if (!PlausibleOrigin(origin)) return EntryCheck::Bad;
  Decision d;
  if (!PlausibleAddress(address) || !ParseState(state, d.state) || !ParseHold(hold, now, d.holdUntil)) {
    return EntryCheck::Bad;
  }
  if (origin == self) return EntryCheck::Own;
  d.address.assign(address);
  out = std::move(d);
  return EntryCheck::Decision;
}

}  // namespace

std::string DecisionKey(const std::string& prefix, std::string_view address) {
  std::string key = prefix + ":d:";
  key.append(address);
  return key;
}

std::string StreamKey(const std::string& prefix) { return prefix + ":decisions"; }

std::string DecisionKeyPattern(const std::string& prefix) {
  std::string pattern;
  for (char c : prefix) {
    if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + ":d:*";
}

std::string KeyValue(const Decision& decision, std::string_view origin) {
  std::string value = std::to_string(decision.holdUntil) + "," + std::to_string(decision.state) + ",";
  value.append(origin);
  return value;
}

EntryCheck CheckKeyEntry(const std::string& prefix, std::string_view key, std::string_view value,
                         std::string_view self, std::int64_t now, Decision& out) {
  const std::string head = prefix + ":d:";
  if (key.size() <= head.size() || key.substr(0, head.size()) != head) return EntryCheck::Bad;
  if (value.size() >= kMaxKeyValue) return EntryCheck::Bad;
  const std::size_t first = value.find(',');
  const std::size_t second = first == std::string_view::npos ? first : value.find(',', first + 1);
  if (second == std::string_view::npos) return EntryCheck::Bad;
  return Finish(value.substr(second + 1), key.substr(head.size()), value.substr(first + 1, second - first - 1),
                value.substr(0, first), self, now, out);
}

EntryCheck CheckStreamEntry(const std::vector<std::pair<std::string_view, std::string_view>>& fields,
                            std::string_view self, std::int64_t now, Decision& out) {
  if (fields.size() != 4) return EntryCheck::Bad;
  static constexpr std::string_view kNames[4] = {"origin", "address", "state", "hold"};
  std::string_view values[4];
  bool seen[4] = {};
  for (const auto& [name, value] : fields) {
    std::size_t i = 0;
    while (i < 4 && kNames[i] != name) ++i;
    if (i == 4 || seen[i]) return EntryCheck::Bad;
    seen[i] = true;
    values[i] = value;
  }
  return Finish(values[0], values[1], values[2], values[3], self, now, out);
}

bool ParseServer(const std::string& text, Endpoint& out) {
  Endpoint e;
  if (text.find('/') != std::string::npos) {
    e.socketPath = text;
    out = std::move(e);
    return true;
  }
  std::string_view host = text;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    if (close + 1 < host.size()) {
      if (host[close + 1] != ':') return false;
      port = host.substr(close + 2);
    }
    host = host.substr(1, close - 1);
  } else if (const std::size_t colon = host.rfind(':'); colon != std::string_view::npos) {
    if (host.find(':') != colon) return false;  // an IPv6 host needs its brackets
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (host.empty()) return false;
  if (!port.empty() || text.back() == ':') {
    int value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (error != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535) return false;
    e.port = value;
  }
  e.host.assign(host);
  out = std::move(e);
  return true;
}

}  // namespace sentrel::share
