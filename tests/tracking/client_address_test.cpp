// Client addresses: the strict IPv6 reader, the canonical text, how the
// filter reads REMOTE_ADDR into a client (mapped addresses, prefixes,
// refused texts) and how a journal line's address text is read back.
#include <gtest/gtest.h>

#include <string>

#include "filter/tracking/client_address.h"

namespace sentrel {
namespace {

TEST(Ipv6Text, ReadAndCanonicalForms) {
  struct Case {
    const char* text;
    const char* canonical;  // nullptr: refused
  } cases[] = {
      {"2001:db8::7", "2001:db8::7"},
      {"2001:0DB8:0000:0000:0000:0000:0000:0007", "2001:db8::7"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},     // the first of two equal runs
      {"2001:db8:0:1:0:0:0:1", "2001:db8:0:1::1"},       // the longer run
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
      {"::", "::"},
      {"::1", "::1"},
      {"1::", "1::"},
      {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
      {"::ffff:10.0.0.7", "::ffff:10.0.0.7"},
      {"::FFFF:a00:7", "::ffff:10.0.0.7"},
      {"64:ff9b::192.0.2.33", "64:ff9b::c000:221"},
      {"ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"1::2::3", nullptr},
      {":::", nullptr},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"1:2:3:4:5:6:7:8::", nullptr},  // "::" must stand for a group
      {"1:2:3:4:5:6:7", nullptr},
      {"12345::1", nullptr},
      {"2001:db8::g", nullptr},
      {"2001:db8:::1", nullptr},
      {":1::2", nullptr},
      {"1::2:", nullptr},
      {"fe80::1%eth0", nullptr},
      {" ::1", nullptr},
      {"::1 ", nullptr},
      {"::ffff:10.0.0.256", nullptr},
      {"::ffff:10.0.0.07", nullptr},
      {"::ffff:10.0.0", nullptr},
      {"::10.0.0.7:1", nullptr},  // the dotted tail ends the text
      {"1:2:3:4:5:6:7:1.2.3.4", nullptr},
      {"0:0:0:0:0:0:0:00001", nullptr},  // five digits in a group
      {"10.0.0.7", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    Ipv6Address a;
    const bool read = ParseIpv6(c.text, a);
    EXPECT_EQ(read, c.canonical != nullptr) << c.text;
    if (read && c.canonical != nullptr) {
      EXPECT_EQ(FormatIpv6(a), c.canonical) << c.text;
      Ipv6Address again;
      EXPECT_TRUE(ParseIpv6(FormatIpv6(a), again) && again == a) << c.text;
    }
  }
}

TEST(ClientAddress, ReadFromTheServersText) {
  struct Case {
    const char* text;
    int prefix;
    AddressFamily family;
    const char* journal;
  } cases[] = {
      {"10.0.0.7", 0, AddressFamily::V4, "10.0.0.7"},
      {"10.0.0.7", 64, AddressFamily::V4, "10.0.0.7"},
      {"2001:db8:1:2:3:4:5:6", 0, AddressFamily::None, ""},  // not tracked by default
      {"2001:db8:1:2:3:4:5:6", 64, AddressFamily::V6, "2001:db8:1:2::/64"},
      {"2001:DB8:1:2:3:4:5:6", 128, AddressFamily::V6, "2001:db8:1:2:3:4:5:6/128"},
      {"2001:db8:1:2:3:4:5:6", 32, AddressFamily::V6, "2001:db8::/32"},
      {"2001:db8:1:2:3:4:5:6", 57, AddressFamily::V6, "2001:db8:1::/57"},
      {"2001:db8:1:ff:3:4:5:6", 57, AddressFamily::V6, "2001:db8:1:80::/57"},
      {"::ffff:10.0.0.7", 64, AddressFamily::V4, "10.0.0.7"},  // the IPv4 client
      {"::ffff:a00:7", 64, AddressFamily::V4, "10.0.0.7"},
      {"::ffff:10.0.0.7", 0, AddressFamily::None, ""},
      {"::ffff:0.0.0.0", 64, AddressFamily::None, ""},
      {"::ffff:255.255.255.255", 64, AddressFamily::None, ""},
      {"::", 64, AddressFamily::None, ""},
      {"::1", 64, AddressFamily::V6, "::/64"},
      {"1::2::3", 64, AddressFamily::None, ""},
      {"fe80::1%eth0", 64, AddressFamily::None, ""},
      {"2001:db8::zz", 64, AddressFamily::None, ""},
      {"0.0.0.0", 64, AddressFamily::None, ""},
      {"255.255.255.255", 64, AddressFamily::None, ""},
      {"1.2.3.4.5.6.7.8.9.10.11.12.13.14", 64, AddressFamily::None, ""},  // 32 bytes or more
      {"", 64, AddressFamily::None, ""},
  };
  for (const Case& c : cases) {
    const ClientAddress a = ReadClientAddress(c.text, c.prefix);
    EXPECT_EQ(a.family, c.family) << c.text << " /" << c.prefix;
    if (a.family != AddressFamily::None) {
      EXPECT_EQ(a.journalText, c.journal) << c.text << " /" << c.prefix;
    }
  }
  // Two addresses of one /64 are one client at 64 and two at 128.
  const char* one = "2001:db8:0:7::1";
  const char* two = "2001:db8:0:7:ffff::2";
  EXPECT_EQ(ReadClientAddress(one, 64).v6, ReadClientAddress(two, 64).v6);
  EXPECT_NE(ReadClientAddress(one, 128).v6, ReadClientAddress(two, 128).v6);
  EXPECT_NE(ReadClientAddress(one, 64).v6, ReadClientAddress("2001:db8:0:8::1", 64).v6);
}

// A journal line names the client's prefix; what it restores depends on the
// IPv6Prefix in force when it is read.
TEST(ClientAddress, ReadFromTheJournal) {
  struct Case {
    const char* text;
    int prefix;
    const char* restored;  // the client's journal text; nullptr: not restored
  } cases[] = {
      {"10.0.0.7", 64, "10.0.0.7"},
      {"10.0.0.7", 0, "10.0.0.7"},
      {"1.2.3.4", 0, "1.2.3.4"},
      {"1.2.3", 0, nullptr},  // shorter than 7 bytes
      {"2001:db8:1:2::/64", 64, "2001:db8:1:2::/64"},
      {"2001:db8:1:2::/64", 0, nullptr},
      {"2001:db8:1:2::/64", 48, "2001:db8:1::/48"},  // a /64 decision holds for its /48
      {"2001:db8:1::/48", 64, nullptr},             // one record cannot stand for many clients
      {"2001:db8:1:2:3:4:5:6/128", 64, "2001:db8:1:2::/64"},
      {"2001:db8:1:2::", 64, nullptr},  // no length
      {"2001:db8:1:2::/129", 64, nullptr},
      {"2001:db8:1:2::/064", 64, nullptr},
      {"2001:db8:1:2::/64 ", 64, nullptr},
      {"1::2::3/64", 64, nullptr},
      {"::ffff:10.0.0.7/128", 64, nullptr},
  };
  for (const Case& c : cases) {
    const ClientAddress a = ReadJournalAddress(c.text, c.prefix);
    EXPECT_EQ(a.family != AddressFamily::None, c.restored != nullptr) << c.text << " /" << c.prefix;
    if (c.restored != nullptr) {
      EXPECT_EQ(a.journalText, c.restored) << c.text << " /" << c.prefix;
    }
  }
}

}  // namespace
}  // namespace sentrel
