// Client addresses as the filter tracks them: an IPv4 client by its address,
// an IPv6 client by the leading IPv6Prefix bits of its address (a /64 is the
// usual size of one customer's network). The IPv6 text forms live here and
// nowhere else: the strict reader of the server's text, the canonical text
// of a client's prefix ("2001:db8:7::/64") that the decision journal carries,
// and its reader.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace sentrel {

// The longest IPv6 text there is ("ffff:...:ffff:255.255.255.255"); a longer
// text is refused without being read.
inline constexpr std::size_t kMaxIpv6TextLength = 45;

// A 128-bit address, the first group most significant in `hi`.
struct Ipv6Address {
  std::uint64_t hi = 0;
  std::uint64_t lo = 0;
  friend bool operator==(const Ipv6Address&, const Ipv6Address&) = default;
  friend std::strong_ordering operator<=>(const Ipv6Address&, const Ipv6Address&) = default;
};

// Reads the text forms of RFC 4291: eight groups of one to four hex digits,
// "::" once at most for one or more zero groups, and an embedded dotted IPv4
// tail in place of the last two groups. Zone ids ("%eth0"), blanks, texts
// longer than kMaxIpv6TextLength and everything else are refused.
bool ParseIpv6(std::string_view text, Ipv6Address& address);

// The canonical text of RFC 5952: lower-case hex without leading zeros, the
// longest run of two or more zero groups (the first of equals) as "::", and
// the IPv4-mapped addresses with their dotted tail.
std::string FormatIpv6(const Ipv6Address& address);

// The address with all but its leading `bits` bits cleared, and with all of
// them set (the first and last address of its /bits block).
Ipv6Address PrefixFirst(const Ipv6Address& address, int bits);
Ipv6Address PrefixLast(const Ipv6Address& address, int bits);

// An IPv4-mapped address (::ffff:a.b.c.d) and its IPv4 address in host order.
bool IsIpv4Mapped(const Ipv6Address& address);
inline std::uint32_t MappedIpv4(const Ipv6Address& address) { return static_cast<std::uint32_t>(address.lo); }

enum class AddressFamily : std::uint8_t { None, V4, V6 };

// One client's identity, read from the address text the server gives.
struct ClientAddress {
  AddressFamily family = AddressFamily::None;  // None: pass the request unevaluated
  std::uint32_t v4 = 0;  // V4: the host-order key
  Ipv6Address v6;        // V6: the client's prefix (bits beyond `prefix` cleared)
  int prefix = 0;        // V6: its length
  // The client as the journal (and everything that shares decisions) names
  // it: an IPv4 client's text as the server gave it (its dotted form when it
  // came IPv4-mapped), an IPv6 client's prefix in canonical text with "/N".
  std::string journalText;
};

// How the filter reads REMOTE_ADDR. An IPv4 text is read as the sockets
// library reads it (0.0.0.0 and 255.255.255.255 are refused). A text with a
// colon is read strictly as IPv6: an IPv4-mapped address is the IPv4 client,
// any other address (not the unspecified "::") a client of `ipv6Prefix`
// bits when that is not 0. Anything else gives family None.
ClientAddress ReadClientAddress(std::string_view text, int ipv6Prefix);

// Reads a journal's address text back: an IPv4 text (7 to 15 bytes) as the
// sockets library reads it, or "prefix/N" in canonical IPv6 text. An IPv6
// decision is restored for the client of `ipv6Prefix` bits it lies in when
// it is at least that long (a /128 decision counts for its /64 client); a
// shorter one would stand for many clients and is not restored, nor is any
// IPv6 line while `ipv6Prefix` is 0.
ClientAddress ReadJournalAddress(std::string_view text, int ipv6Prefix);

// "a/N" for a prefix: reads the address and the decimal length 0 to 128.
bool ParseIpv6Prefix(std::string_view text, Ipv6Address& address, int& bits);

}  // namespace sentrel
