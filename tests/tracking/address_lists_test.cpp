// Address lists: line forms, skipped lines, and the range table that holds
// them (later entries win over the parts of earlier ones they cover).
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "filter/tracking/address_lists.h"
#include "filter/tracking/address_ranges.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

constexpr std::uint32_t Key(int a, int b, int c, int d) {
  return (std::uint32_t(a) << 24) | (std::uint32_t(b) << 16) | (std::uint32_t(c) << 8) | std::uint32_t(d);
}

struct LineCase {
  const char* text;
  bool accepted;
  std::uint32_t first;
  std::uint64_t count;
};

TEST(AddressListLine, FormsAndRefusals) {
  const LineCase cases[] = {
      {"192.168.1.20", true, Key(192, 168, 1, 20), 1},
      {"10.0.0.5-10.0.0.7", true, Key(10, 0, 0, 5), 3},
      {"10.0.0.7-10.0.0.5", true, Key(10, 0, 0, 7), 0},  // reversed: lists nothing
      {"127.255.255.250-128.0.0.5", true, Key(127, 255, 255, 250), 12},
      {"192.168.1.*", true, Key(192, 168, 1, 0), 256},
      {"61.135.*.*", true, Key(61, 135, 0, 0), 65536},
      {"*.*.*.*", false, 0, 0},  // its last address, 255.255.255.255, is refused
      {"0.*.*.*", true, 0, 0x1000000ull},
      {"0.0.0.0-255.255.255.254", true, 0, 0xFFFFFFFFull},
      {"1.2.3.*-1.2.4.*", false, 0, 0},  // a wildcard inside a range
      {"1.2.3.4 remark", false, 0, 0},
      {"1.2.3.4 ", false, 0, 0},
      {" 1.2.3.4", false, 0, 0},
      {"# 1.2.3.4", false, 0, 0},
      {"host.example", false, 0, 0},
      {"1.2.3.4-", false, 0, 0},
      {"-1.2.3.4", false, 0, 0},
      {"1.2.3.256", false, 0, 0},   // the conversion refuses it
      {"255.255.255.255", false, 0, 0},
      {"...", false, 0, 0},
  };
  for (const auto& c : cases) {
    AddressListLine r = ParseAddressListLine(c.text);
    EXPECT_EQ(r.accepted, c.accepted) << c.text;
    if (c.accepted) {
      EXPECT_EQ(r.first, c.first) << c.text;
      EXPECT_EQ(r.Count(), c.count) << c.text;
    } else {
      EXPECT_FALSE(r.reason.empty()) << c.text;
    }
  }
}

// IPv6 lines: a single address or a prefix, shown as lint shows them.
TEST(AddressListLine, Ipv6Forms) {
  const std::pair<const char*, const char*> cases[] = {
      {"2001:db8::7", "2001:db8::7"},
      {"2001:DB8:0::0:7", "2001:db8::7"},
      {"2001:db8::/32", "2001:db8::/32 (2001:db8:: to 2001:db8:ffff:ffff:ffff:ffff:ffff:ffff)"},
      {"2001:db8:1:2:3::/64", "2001:db8:1:2::/64 (2001:db8:1:2:: to 2001:db8:1:2:ffff:ffff:ffff:ffff)"},
      {"::/0", ":: /0"},
      {"2001:db8::7/128", "2001:db8::7"},
      {"2001:db8::1-2001:db8::9", nullptr},  // no ranges
      {"2001:db8::*", nullptr},
      {"2001:db8::/129", nullptr},
      {"2001:db8::/", nullptr},
      {"fe80::1%eth0", nullptr},
      {"2001:db8::7 remark", nullptr},
      {"1::2::3", nullptr},
  };
  for (const auto& [text, covers] : cases) {
    const AddressListLine r = ParseAddressListLine(text);
    ASSERT_EQ(r.accepted, covers != nullptr) << text;
    if (covers == nullptr) {
      EXPECT_FALSE(r.reason.empty()) << text;
    } else if (std::string(covers) == ":: /0") {
      EXPECT_EQ(r.first6, Ipv6Address{});
      EXPECT_EQ(r.last6, (Ipv6Address{~0ull, ~0ull}));
    } else {
      EXPECT_EQ(r.Ipv6Coverage(), covers) << text;
      EXPECT_TRUE(r.Lists());
      EXPECT_EQ(r.Count(), 0u);  // counts IPv4 addresses only
    }
  }
}

constexpr ClientState kBlock = ClientState::Blocked;
constexpr ClientState kAllow = ClientState::Allowed;

// An IPv6 client stands for its whole block: a line touching any part of
// it lists the client, and a block both lists touch is blocked.
TEST(AddressRanges, Ipv6BlocksTouchedByLines) {
  auto at = [](const char* text) {
    Ipv6Address a;
    EXPECT_TRUE(ParseIpv6(text, a)) << text;
    return a;
  };
  auto block = [&](const char* text) { return std::pair{at(text), PrefixLast(at(text), 64)}; };
  AddressRanges r;
  r.Add(at("2001:db8:0:1::7"), at("2001:db8:0:1::7"), kAllow);
  r.Add(at("2001:db8:0:2::"), PrefixLast(at("2001:db8:0:2::"), 48), kAllow);
  r.Add(at("2001:db8:0:2:8000::"), at("2001:db8:0:2:8000::"), kBlock);
  r.Add(at("2001:db8:0:9::"), PrefixLast(at("2001:db8:0:9::"), 64), kBlock);
  auto [b1, e1] = block("2001:db8:0:1::");
  EXPECT_EQ(r.Find(b1, e1), kAllow);
  auto [b2, e2] = block("2001:db8:0:2::");
  EXPECT_EQ(r.Find(b2, e2), kBlock);
  auto [b3, e3] = block("2001:db8:0:3::");
  EXPECT_EQ(r.Find(b3, e3), kAllow);  // inside the /48
  auto [b9, e9] = block("2001:db8:0:9::");
  EXPECT_EQ(r.Find(b9, e9), kBlock);
  auto [b0, e0] = block("2001:db8:1::");
  EXPECT_FALSE(r.Find(b0, e0).has_value());
  EXPECT_FALSE(r.Find(0x20010db8u).has_value());  // the families do not mix
}

TEST(AddressRanges, LaterEntriesWinOverTheirOverlap) {
  AddressRanges r;
  r.Add(10, 20, kAllow);
  r.Add(15, 17, kBlock);
  r.Add(19, 30, kBlock);
  r.Add(5, 11, kAllow);
  EXPECT_FALSE(r.Find(4).has_value());
  EXPECT_EQ(r.Find(5), kAllow);
  EXPECT_EQ(r.Find(14), kAllow);
  EXPECT_EQ(r.Find(15), kBlock);
  EXPECT_EQ(r.Find(18), kAllow);
  EXPECT_EQ(r.Find(19), kBlock);
  EXPECT_EQ(r.Find(30), kBlock);
  EXPECT_FALSE(r.Find(31).has_value());
  r.Add(0, 0xFFFFFFFFu, kAllow);  // the whole space in one interval
  EXPECT_EQ(r.IntervalCount(), 1u);
  EXPECT_EQ(r.Find(0xFFFFFFFFu), kAllow);
  EXPECT_EQ(r.Find(0), kAllow);
}

// The table answers exactly as one record per listed address would.
TEST(AddressRanges, AgreesWithOneRecordPerAddress) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    AddressRanges ranges;
    std::map<std::uint32_t, ClientState> records;
    for (int i = 0; i < 8; ++i) {
      std::uint32_t a = rng() % 64, b = rng() % 64;
      const ClientState state = (rng() % 2) ? ClientState::Allowed : ClientState::Blocked;
      ranges.Add(a, b, state);
      for (std::uint32_t k = a; k <= b; ++k) records[k] = state;
    }
    for (std::uint32_t k = 0; k < 70; ++k) {
      auto it = records.find(k);
      auto found = ranges.Find(k);
      ASSERT_EQ(found.has_value(), it != records.end()) << "round " << round << " key " << k;
      if (found) {
        ASSERT_EQ(*found, it->second);
      }
    }
  }
}

TEST(LoadAddressList, ReadsLinesAndReportsEach) {
  test::SettingsFolder folder;
  folder.Write("LimitIP.txt", "10.0.0.1\r\n\r\n10.0.0.9 bad\r\n10.0.1.*\r\n");
  AddressRanges ranges;
  std::vector<std::pair<int, bool>> seen;
  EXPECT_TRUE(LoadAddressList(folder.Root() + "\\", "LimitIP.txt", kBlock, ranges,
                              [&](int n, const std::string&, const AddressListLine& r) {
                                seen.emplace_back(n, r.accepted);
                              }));
  EXPECT_EQ(seen, (std::vector<std::pair<int, bool>>{{1, true}, {3, false}, {4, true}}));
  EXPECT_EQ(ranges.Find(Key(10, 0, 0, 1)), kBlock);
  EXPECT_FALSE(ranges.Find(Key(10, 0, 0, 9)).has_value());
  EXPECT_EQ(ranges.Find(Key(10, 0, 1, 200)), kBlock);
  // A missing list is an empty one.
  EXPECT_TRUE(LoadAddressList(folder.Root() + "\\", "UnLimitIP.txt", kAllow, ranges));
}

}  // namespace
}  // namespace sentrel
