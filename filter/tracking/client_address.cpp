#include "filter/tracking/client_address.h"

#include <cstdio>
#include <utility>

#include "platform/net.h"

namespace sentrel {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four decimal parts of 0 to 255 without leading zeros, as the tail of an
// IPv6 text has them.
bool ParseDottedQuad(std::string_view text, std::uint32_t& value) {
  value = 0;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    const std::size_t start = i;
    unsigned part = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) part = part * 10 + (text[i++] - '0');
    const std::size_t digits = i - start;
    if (digits == 0 || part > 255 || (digits > 1 && text[start] == '0')) return false;
    value = value << 8 | part;
    if (++parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  return i == text.size();
}

void SetGroups(Ipv6Address& a, const std::uint16_t (&g)[8]) {
  a.hi = a.lo = 0;
  for (int i = 0; i < 4; ++i) a.hi = a.hi << 16 | g[i];
  for (int i = 4; i < 8; ++i) a.lo = a.lo << 16 | g[i];
}

std::uint16_t GroupOf(const Ipv6Address& a, int i) {
  return static_cast<std::uint16_t>((i < 4 ? a.hi : a.lo) >> (16 * (3 - i % 4)));
}

std::string Dotted(std::uint32_t a) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", a >> 24, a >> 16 & 255u, a >> 8 & 255u, a & 255u);
  return text;
}

// The leading `bits` bits of a 64-bit half that starts at bit `from`.
std::uint64_t HalfMask(int bits, int from) {
  const int n = bits - from;
  if (n <= 0) return 0;
  if (n >= 64) return ~std::uint64_t{0};
  return ~(~std::uint64_t{0} >> n);
}

}  // namespace

bool ParseIpv6(std::string_view text, Ipv6Address& address) {
  if (text.size() < 2 || text.size() > kMaxIpv6TextLength) return false;
  std::uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // groups before "::"
  std::size_t i = 0;
  if (text[0] == ':') {
    if (text[1] != ':') return false;
    gap = 0;
    i = 2;
  }
  while (i < text.size()) {
    std::size_t end = text.find(':', i);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(i, end - i);
    if (part.find('.') != std::string_view::npos) {  // the IPv4 tail ends the text
      std::uint32_t v4 = 0;
      if (end != text.size() || count > 6 || !ParseDottedQuad(part, v4)) return false;
      groups[count++] = static_cast<std::uint16_t>(v4 >> 16);
      groups[count++] = static_cast<std::uint16_t>(v4);
      break;
    }
    if (part.empty() || part.size() > 4 || count == 8) return false;
    unsigned value = 0;
    for (char c : part) {
      const int h = HexValue(c);
      if (h < 0) return false;
      value = value << 4 | static_cast<unsigned>(h);
    }
    groups[count++] = static_cast<std::uint16_t>(value);
    if (end == text.size()) break;
    i = end + 1;
    if (i < text.size() && text[i] == ':') {
      if (gap >= 0) return false;  // "::" once only
      gap = count;
      ++i;
    } else if (i == text.size()) {
      return false;  // a single trailing colon
    }
  }
  if (gap < 0) {
    if (count != 8) return false;
  } else {
    if (count > 7) return false;  // "::" stands for one group at least
    const int zeros = 8 - count;
    for (int k = count - 1; k >= gap; --k) groups[k + zeros] = groups[k];
    for (int k = gap; k < gap + zeros; ++k) groups[k] = 0;
  }
  SetGroups(address, groups);
  return true;
}

std::string FormatIpv6(const Ipv6Address& a) {
  if (IsIpv4Mapped(a)) return "::ffff:" + Dotted(MappedIpv4(a));
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    if (GroupOf(a, i) != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && GroupOf(a, j) == 0) ++j;
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j;
  }
  std::string text;
  char group[8];
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(group, sizeof(group), "%x", static_cast<unsigned>(GroupOf(a, i)));
    text += group;
  }
  return text;
}

Ipv6Address PrefixFirst(const Ipv6Address& a, int bits) {
  return Ipv6Address{a.hi & HalfMask(bits, 0), a.lo & HalfMask(bits, 64)};
}

Ipv6Address PrefixLast(const Ipv6Address& a, int bits) {
  return Ipv6Address{a.hi | ~HalfMask(bits, 0), a.lo | ~HalfMask(bits, 64)};
}

bool IsIpv4Mapped(const Ipv6Address& a) { return a.hi == 0 && (a.lo >> 32) == 0xFFFFu; }

bool ParseIpv6Prefix(std::string_view text, Ipv6Address& address, int& bits) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view length = text.substr(slash + 1);
  if (length.empty() || length.size() > 3 || (length.size() > 1 && length[0] == '0')) return false;
  int n = 0;
  for (char c : length) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > 128 || !ParseIpv6(text.substr(0, slash), address)) return false;
  bits = n;
  return true;
}

namespace {

ClientAddress Ipv4Client(std::uint32_t key, std::string text) {
  ClientAddress client;
  if (key == 0 || key == 0xFFFFFFFFu) return client;
  client.family = AddressFamily::V4;
  client.v4 = key;
  client.journalText = std::move(text);
  return client;
}

ClientAddress Ipv6Client(const Ipv6Address& address, int prefix) {
  ClientAddress client;
  client.family = AddressFamily::V6;
  client.prefix = prefix;
  client.v6 = PrefixFirst(address, prefix);
  client.journalText = FormatIpv6(client.v6) + "/" + std::to_string(prefix);
  return client;
}

}  // namespace

ClientAddress ReadClientAddress(std::string_view text, int ipv6Prefix) {
  if (text.find(':') == std::string_view::npos) {
    // The old 32-byte address buffer: a longer text never was an address.
    if (text.size() >= 32) return {};
    std::string copy(text);
    const std::uint32_t key = platform::Ntohl(platform::InetAddr(copy.c_str()));
    return Ipv4Client(key, std::move(copy));
  }
  Ipv6Address address;
  if (ipv6Prefix == 0 || !ParseIpv6(text, address)) return {};
  if (IsIpv4Mapped(address)) return Ipv4Client(MappedIpv4(address), Dotted(MappedIpv4(address)));
  if (address == Ipv6Address{}) return {};  // the unspecified address
  return Ipv6Client(address, ipv6Prefix);
}

ClientAddress ReadJournalAddress(std::string_view text, int ipv6Prefix) {
  if (text.find(':') == std::string_view::npos) {
    if (text.size() < 7 || text.size() > 15) return {};
    std::string copy(text);
    const std::uint32_t key = platform::Ntohl(platform::InetAddr(copy.c_str()));
    return Ipv4Client(key, std::move(copy));
  }
  Ipv6Address address;
  int bits = 0;
  if (ipv6Prefix == 0 || !ParseIpv6Prefix(text, address, bits) || bits < ipv6Prefix) return {};
  if (IsIpv4Mapped(address) || address == Ipv6Address{}) return {};
  return Ipv6Client(address, ipv6Prefix);
}

}  // namespace sentrel
