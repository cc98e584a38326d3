#include "filter/tracking/address_lists.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/net.h"

namespace sentrel {

namespace {

bool DigitsOnlyWithoutDots(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '.'), text.end());
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ReplaceStars(std::string text, const char* with) {
  std::string out;
  for (char c : text) {
    if (c == '*') {
      out += with;
    } else {
      out += c;
    }
  }
  return out;
}

AddressListLine ParseIpv6ListLine(const std::string& line) {
  AddressListLine reading;
  Ipv6Address address;
  int bits = 128;
  const bool read = line.find('/') == std::string::npos ? ParseIpv6(line, address)
                                                        : ParseIpv6Prefix(line, address, bits);
  if (!read) {
    reading.reason = "not an IPv6 address or prefix (\"2001:db8::7\", \"2001:db8::/32\"; no ranges, "
                     "wildcards, zone ids or blanks)";
    return reading;
  }
  reading.accepted = true;
  reading.ipv6 = true;
  reading.prefixLength = bits;
  reading.first6 = PrefixFirst(address, bits);
  reading.last6 = PrefixLast(address, bits);
  return reading;
}

}  // namespace

std::string AddressListLine::Ipv6Coverage() const {
  if (prefixLength == 128) return FormatIpv6(first6);
  return FormatIpv6(first6) + "/" + std::to_string(prefixLength) + " (" + FormatIpv6(first6) + " to " +
         FormatIpv6(last6) + ")";
}

AddressListLine ParseAddressListLine(const std::string& line) {
  if (line.find(':') != std::string::npos) return ParseIpv6ListLine(line);
  AddressListLine reading;
  std::string first;
  std::string last;
  std::size_t dash = line.find('-');
  if (dash != std::string::npos) {
    first = line.substr(0, dash);
    last = line.substr(dash + 1);
  } else if (line.find('*') != std::string::npos) {
    first = ReplaceStars(line, "0");
    last = ReplaceStars(line, "255");
  } else {
    first = last = line;
  }

  if (!DigitsOnlyWithoutDots(first) || (first != last && !DigitsOnlyWithoutDots(last))) {
    reading.reason = "only digits and dots may form an address (no blanks, remarks or letters)";
    return reading;
  }
  std::uint32_t a = platform::InetAddr(first.c_str());
  std::uint32_t b = platform::InetAddr(last.c_str());
  if (a == platform::kInaddrNone || b == platform::kInaddrNone) {
    reading.reason = "not a usable IPv4 address (255.255.255.255 is refused too)";
    return reading;
  }
  reading.accepted = true;
  reading.first = platform::Ntohl(a);
  reading.last = platform::Ntohl(b);
  if (reading.first > reading.last) reading.reason = "range ends before it starts: lists nothing";
  return reading;
}

void AddListed(const AddressListLine& reading, ClientState state, AddressRanges& ranges) {
  if (reading.ipv6) {
    ranges.Add(reading.first6, reading.last6, state);
  } else {
    ranges.Add(reading.first, reading.last, state);
  }
}

bool ParseAddressListText(const std::string& text, ClientState state, AddressRanges& ranges,
                          std::string& refused) {
  AddressRanges read;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    std::string entry = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    entry.erase(0, entry.find_first_not_of(" \t"));
    entry.erase(entry.find_last_not_of(" \t") + 1);
    AddressListLine reading;
    if (entry.empty()) {
      reading.reason = "empty entry";
    } else {
      reading = ParseAddressListLine(entry);
    }
    if (!reading.Lists()) {
      refused = entry;
      return false;
    }
    AddListed(reading, state, read);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  ranges = std::move(read);
  return true;
}

bool LoadAddressList(const std::string& folderPath, const std::string& fileName,
                     ClientState state, AddressRanges& ranges,
                     const AddressListObserver& observer) {
  platform::TextFile in;
  if (!in.Open(folderPath + fileName, platform::TextFile::Mode::Read)) return true;
  std::string line;
  int number = 0;
  while (in.ReadLine(line)) {
    ++number;
    if (line.empty()) continue;
    AddressListLine reading = ParseAddressListLine(line);
    if (reading.accepted) AddListed(reading, state, ranges);
    if (observer) observer(number, line, reading);
  }
  return true;
}

}  // namespace sentrel
