// Fuzz target for the checks on what filter instances read back from the
// Redis server: any bytes as a key and its value, and as a stream entry's
// fields, are refused or give a decision within range, which reads back
// the same from the key form; never a crash. The server text gets the bytes
// as well.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filter/share/share_entry.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr std::int64_t kNow = 1700000000;

void RequireInRange(const sentrel::share::Decision& d) {
  Require(!d.address.empty() && d.address.size() <= sentrel::share::kMaxAddressText);
  Require(d.state == 0 || d.state == 2 || d.state == 3);
  Require(static_cast<std::int64_t>(d.holdUntil) > kNow &&
          static_cast<std::int64_t>(d.holdUntil) <= kNow + sentrel::share::kMaxHoldAhead);
  // The key form of a decision that passed reads back as the same decision.
  sentrel::share::Decision again;
  Require(sentrel::share::CheckKeyEntry("p", sentrel::share::DecisionKey("p", d.address),
                                        sentrel::share::KeyValue(d, "o"), "self", kNow,
                                        again) == sentrel::share::EntryCheck::Decision);
  Require(again.address == d.address && again.state == d.state && again.holdUntil == d.holdUntil);
}

}  // namespace

// The input's pieces, split at zero bytes: a key, its value, then the
// stream entry's field names and values.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> pieces;
  for (std::size_t start = 0;;) {
    const std::size_t end = input.find('\0', start);
    pieces.push_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  sentrel::share::Decision d;
  if (pieces.size() >= 2 &&
      sentrel::share::CheckKeyEntry("p", pieces[0], pieces[1], "self", kNow, d) ==
          sentrel::share::EntryCheck::Decision) {
    RequireInRange(d);
  }
  std::vector<std::pair<std::string_view, std::string_view>> fields;
  for (std::size_t i = 2; i + 1 < pieces.size(); i += 2) fields.emplace_back(pieces[i], pieces[i + 1]);
  if (sentrel::share::CheckStreamEntry(fields, "self", kNow, d) == sentrel::share::EntryCheck::Decision) {
    RequireInRange(d);
  }
  sentrel::share::Endpoint where;
  if (sentrel::share::ParseServer(std::string(pieces[0]), where)) {
    Require(!where.socketPath.empty() || (!where.host.empty() && where.port >= 1 && where.port <= 65535));
  }
  return 0;
}
