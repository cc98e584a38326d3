// The allow and deny address lists ("UnLimitIP.txt", "LimitIP.txt"): one entry
// per line, a single address, a range "a-b" or a wildcard "61.135.*.*"; for
// IPv6 a single address "2001:db8::7" or a prefix "2001:db8::/32".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "filter/tracking/address_ranges.h"

namespace sentrel {

inline constexpr char kAllowListFile[] = "UnLimitIP.txt";
inline constexpr char kDenyListFile[] = "LimitIP.txt";

// The reading of one list line.
struct AddressListLine {
  bool accepted = false;
  std::string reason;        // why a line is skipped
  std::uint32_t first = 0;   // host-order keys of an accepted line
  std::uint32_t last = 0;
  // An accepted IPv6 line: its first and last address and its prefix
  // length (128 for a single address).
  bool ipv6 = false;
  Ipv6Address first6;
  Ipv6Address last6;
  int prefixLength = 128;
  // Number of IPv4 addresses the line covers (0 for a reversed range and for
  // an IPv6 line).
  std::uint64_t Count() const {
    return accepted && !ipv6 && first <= last ? std::uint64_t(last) - first + 1 : 0;
  }
  // Whether the line lists anything.
  bool Lists() const { return accepted && (ipv6 || first <= last); }
  // What an IPv6 line covers: "2001:db8::7" or "2001:db8::/32 (2001:db8:: to
  // 2001:db8:ffff:ffff:ffff:ffff:ffff:ffff)".
  std::string Ipv6Coverage() const;
};

// Reads one non-empty line as the filter does.
AddressListLine ParseAddressListLine(const std::string& line);

// Lists what an accepted line covers with `state`.
void AddListed(const AddressListLine& reading, ClientState state, AddressRanges& ranges);

// Reads a settings value of address-list entries separated by commas (blanks
// around an entry are ignored), each entry read as a list line is, into
// `ranges` with `state`. False when an entry is empty, is not accepted, or
// lists nothing (a reversed range): `refused` then holds that entry (blanks
// trimmed), and `ranges` is left as it was.
bool ParseAddressListText(const std::string& text, ClientState state, AddressRanges& ranges,
                          std::string& refused);

// Called for every non-empty line with its number, text and reading.
using AddressListObserver =
    std::function<void(int lineNumber, const std::string& text, const AddressListLine& reading)>;

// Reads folderPath + fileName and lists every accepted address with `state`.
// A missing file is an empty list. Always returns true.
bool LoadAddressList(const std::string& folderPath, const std::string& fileName,
                     ClientState state, AddressRanges& ranges,
                     const AddressListObserver& observer = {});

}  // namespace sentrel
