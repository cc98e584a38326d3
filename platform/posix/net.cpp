// IPv4 address text conversion with the classic inet_addr rules, written out
// here because the C library's own parser accepts trailing text after blanks.
#include <arpa/inet.h>

#include "platform/net.h"

namespace sentrel::platform {

namespace {

// Parses one part starting at text[i]: decimal, octal with a leading 0 or
// hexadecimal with a leading 0x/0X. Stops at the first byte that is not a
// digit of the base. Fails on an empty part, a bare "0x" or a value beyond
// 32 bits.
bool ParsePart(const char* text, std::size_t& i, std::uint32_t& value) {
  unsigned base = 10;
  if (text[i] == '0') {
    if (text[i + 1] == 'x' || text[i + 1] == 'X') {
      base = 16;
      i += 2;
    } else {
      base = 8;
    }
  }
  std::uint64_t v = 0;
  std::size_t digits = 0;
  for (;; ++i, ++digits) {
    const char c = text[i];
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      break;
    }
    if (d >= base) return false;  // 8 or 9 in an octal part
    v = v * base + d;
    if (v > 0xFFFFFFFFull) return false;
  }
  if (digits == 0) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

std::uint32_t InetAddr(const char* text) {
  if (text == nullptr) return kInaddrNone;
  std::uint32_t parts[4];
  int count = 0;
  std::size_t i = 0;
  for (;;) {
    if (count == 4) return kInaddrNone;
    if (!ParsePart(text, i, parts[count])) return kInaddrNone;
    ++count;
    if (text[i] == '\0') break;
    if (text[i] != '.') return kInaddrNone;
    ++i;  // a dot must be followed by another part
  }
  // Every part but the last is one byte; the last fills the remaining bytes.
  std::uint32_t host = 0;
  for (int p = 0; p < count - 1; ++p) {
    if (parts[p] > 0xFF) return kInaddrNone;
    host |= parts[p] << (24 - 8 * p);
  }
  const int lastBits = 32 - 8 * (count - 1);
  const std::uint32_t last = parts[count - 1];
  if (lastBits < 32 && last >> lastBits != 0) return kInaddrNone;
  host |= last;
  return htonl(host);
}

std::uint32_t Ntohl(std::uint32_t value) { return ntohl(value); }

}  // namespace sentrel::platform
