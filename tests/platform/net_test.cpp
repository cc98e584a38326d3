#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#endif

#include <vector>

#include "platform/net.h"

namespace sentrel::platform {
namespace {

TEST(Net, InetAddr) {
  struct Case {
    const char* text;
    std::uint32_t hostOrder;  // expected address in host order, or kInaddrNone
  };
  const std::vector<Case> cases = {
      {"1.2.3.4", 0x01020304},
      {"192.168.0.1", 0xC0A80001},
      {"0.0.0.0", 0},
      {"255.255.255.255", kInaddrNone},
      {"255.255.255.254", 0xFFFFFFFE},
      {"1.2.3", 0x01020003},          // the last part fills 16 bits
      {"1.2.65535", 0x0102FFFF},
      {"1.2.65536", kInaddrNone},
      {"1.16777215", 0x01FFFFFF},     // 24 bits
      {"1.16777216", kInaddrNone},
      {"16909060", 0x01020304},       // one 32-bit part
      {"4294967294", 0xFFFFFFFE},
      {"4294967296", kInaddrNone},
      {"0x7f.1", 0x7F000001},
      {"0X7F.0.0.1", 0x7F000001},
      {"0xC0.0250.0.1", 0xC0A80001},  // hex and octal parts
      {"010.0.0.1", 0x08000001},
      {"08.0.0.1", kInaddrNone},      // 8 is no octal digit
      {"0x.1.1.1", kInaddrNone},
      {"0xg.1.1.1", kInaddrNone},
      {"00", 0},
      {"0", 0},
      {"256.1.1.1", kInaddrNone},
      {"1.256.1.1", kInaddrNone},
      {"1.2.256.1", kInaddrNone},
      {"1.2.3.256", kInaddrNone},
      {"1.2.3.4.5", kInaddrNone},
      {"1.2.3.4.", kInaddrNone},
      {"1..3.4", kInaddrNone},
      {".1.2.3", kInaddrNone},
#if defined(_WIN32)
      // The sockets library's own routine ends the address at a blank and
      // ignores what follows it.
      {"1.2.3.4 x", 0x01020304},
      {"1.2.3.4 ", 0x01020304},
#else
      {"1.2.3.4 x", kInaddrNone},
      {"1.2.3.4 ", kInaddrNone},
#endif
      {" 1.2.3.4", kInaddrNone},
      {"1.2.3.-4", kInaddrNone},
      {"+1.2.3.4", kInaddrNone},
      {"", kInaddrNone},
      {"::1", kInaddrNone},
      {"localhost", kInaddrNone},
      {"99999999999999999999", kInaddrNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::uint32_t got = InetAddr(c.text);
    EXPECT_EQ(got, c.hostOrder == kInaddrNone ? kInaddrNone : htonl(c.hostOrder));
    if (c.hostOrder != kInaddrNone) {
      EXPECT_EQ(Ntohl(got), c.hostOrder);
    }
  }
  EXPECT_EQ(InetAddr(nullptr), kInaddrNone);
}

TEST(Net, NetworkByteOrderInMemory) {
  const std::uint32_t addr = InetAddr("10.20.30.40");
  const auto* bytes = reinterpret_cast<const unsigned char*>(&addr);
  EXPECT_EQ(bytes[0], 10);
  EXPECT_EQ(bytes[1], 20);
  EXPECT_EQ(bytes[2], 30);
  EXPECT_EQ(bytes[3], 40);
  EXPECT_EQ(Ntohl(addr), 0x0A141E28u);
}

}  // namespace
}  // namespace sentrel::platform
