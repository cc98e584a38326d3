// The forms decisions take on the Redis server, and the checks that keep
// anything else read from it away from the client table.
#include <gtest/gtest.h>

#include "filter/logging/program_messages.h"
#include "filter/share/share_entry.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

using share::CheckKeyEntry;
using share::CheckStreamEntry;
using share::Decision;
using share::EntryCheck;

constexpr std::int64_t kNow = 1700000000;
const std::string kSoon = std::to_string(kNow + 600);

TEST(ShareEntry, StreamEntriesPassOnlyWithTheirFourFieldsInRange) {
  using Fields = std::vector<std::pair<std::string_view, std::string_view>>;
  const std::string farthest = std::to_string(kNow + share::kMaxHoldAhead);
  const std::string beyond = std::to_string(kNow + share::kMaxHoldAhead + 1);
  const std::string now = std::to_string(kNow);
  const std::string longAddress(64, '1');
  struct Case {
    const char* what;
    Fields fields;
    EntryCheck expected;
  } cases[] = {
      {"a block", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", kSoon}}, EntryCheck::Decision},
      {"fields in any order", {{"hold", kSoon}, {"state", "3"}, {"address", "10.0.0.7"}, {"origin", "o2"}},
       EntryCheck::Decision},
      {"an IPv6 prefix", {{"origin", "o2"}, {"address", "2001:db8::/64"}, {"state", "2"}, {"hold", kSoon}},
       EntryCheck::Decision},
      {"the longest hold", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", farthest}},
       EntryCheck::Decision},
      {"our own", {{"origin", "self"}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", kSoon}}, EntryCheck::Own},
      {"three fields", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "0"}}, EntryCheck::Bad},
      {"five fields",
       {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", kSoon}, {"x", "y"}},
       EntryCheck::Bad},
      {"a field twice", {{"origin", "o2"}, {"origin", "o3"}, {"state", "0"}, {"hold", kSoon}}, EntryCheck::Bad},
      {"state 1", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "1"}, {"hold", kSoon}}, EntryCheck::Bad},
      {"state 4", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "4"}, {"hold", kSoon}}, EntryCheck::Bad},
      {"state 00", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "00"}, {"hold", kSoon}}, EntryCheck::Bad},
      {"a hold ending now", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", now}},
       EntryCheck::Bad},
      {"a hold too far", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", beyond}},
       EntryCheck::Bad},
      {"a hold beyond 32 bits", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", "4294967296"}},
       EntryCheck::Bad},
      {"a signed hold", {{"origin", "o2"}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", "+1700000600"}},
       EntryCheck::Bad},
      {"garbage address", {{"origin", "o2"}, {"address", "10.0.0.7 or 1"}, {"state", "0"}, {"hold", kSoon}},
       EntryCheck::Bad},
      {"a long address", {{"origin", "o2"}, {"address", longAddress}, {"state", "0"}, {"hold", kSoon}},
       EntryCheck::Bad},
      {"no origin", {{"origin", ""}, {"address", "10.0.0.7"}, {"state", "0"}, {"hold", kSoon}}, EntryCheck::Bad},
  };
  for (const Case& c : cases) {
    Decision d;
    EXPECT_EQ(CheckStreamEntry(c.fields, "self", kNow, d), c.expected) << c.what;
  }
  Decision d;
  ASSERT_EQ(CheckStreamEntry(cases[1].fields, "self", kNow, d), EntryCheck::Decision);
  EXPECT_EQ(d.address, "10.0.0.7");
  EXPECT_EQ(d.state, 3);
  EXPECT_EQ(d.holdUntil, kNow + 600);
}

TEST(ShareEntry, KeyValuesReadBackAsWrittenAndNothingElse) {
  const Decision written{"10.0.0.7", 2, static_cast<std::uint32_t>(kNow + 600)};
  const std::string value = share::KeyValue(written, "o2");
  Decision read;
  ASSERT_EQ(CheckKeyEntry("site", share::DecisionKey("site", written.address), value, "self", kNow, read),
            EntryCheck::Decision);
  EXPECT_EQ(read.address, written.address);
  EXPECT_EQ(read.state, written.state);
  EXPECT_EQ(read.holdUntil, written.holdUntil);
  EXPECT_EQ(CheckKeyEntry("site", "site:d:10.0.0.7", value, "o2", kNow, read), EntryCheck::Own);

  struct Case {
    const char* key;
    std::string value;
  } bad[] = {
      {"other:d:10.0.0.7", value},              // another prefix
      {"site:d:", value},                       // no address
      {"site:d:10.0.0.7", kSoon + ",0"},        // no origin
      {"site:d:10.0.0.7", kSoon + ",0,o2,x"},   // a comma in the origin
      {"site:d:10.0.0.7", "garbage"},
      {"site:d:10.0.0.7", kSoon + ",0," + std::string(share::kMaxKeyValue, 'o')},  // as long as read
  };
  for (const Case& c : bad) {
    EXPECT_EQ(CheckKeyEntry("site", c.key, c.value, "self", kNow, read), EntryCheck::Bad) << c.key << " " << c.value;
  }
}

TEST(ShareEntry, KeyPatternEscapesThePrefix) {
  EXPECT_EQ(share::DecisionKeyPattern("sentrel"), "sentrel:d:*");
  EXPECT_EQ(share::DecisionKeyPattern("a*b?[c]\\"), "a\\*b\\?\\[c\\]\\\\:d:*");
}

TEST(ShareEntry, ServerTextIsHostAndPortOrASocket) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
    const char* socket;
  } cases[] = {
      {"127.0.0.1:6380", true, "127.0.0.1", 6380, ""},
      {"redis.lan", true, "redis.lan", 6379, ""},
      {"[::1]:6381", true, "::1", 6381, ""},
      {"/run/redis/redis.sock", true, "", 6379, "/run/redis/redis.sock"},
      {"::1:6379", false, "", 0, ""},
      {"host:0", false, "", 0, ""},
      {"host:65536", false, "", 0, ""},
      {"host:", false, "", 0, ""},
      {"host:12x", false, "", 0, ""},
      {":6379", false, "", 0, ""},
      {"[::1", false, "", 0, ""},
  };
  for (const Case& c : cases) {
    share::Endpoint e;
    ASSERT_EQ(share::ParseServer(c.text, e), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(e.host, c.host) << c.text;
    EXPECT_EQ(e.port, c.port) << c.text;
    EXPECT_EQ(e.socketPath, c.socket) << c.text;
  }
}

#ifdef _WIN32
// Without a Redis client library the filter says so once and works alone.
TEST(ShareEntry, ThisBuildSaysSharingIsNotAvailableAndWorksAlone) {
  test::SettingsFolder folder;
  folder.Write("Config.ini", "[Share]\r\nServer=127.0.0.1:6379\r\n");
  folder.AddModule("bots.ini", test::AgentModule("Bots", "0", "1"));
  test::FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  f.CompleteStartup();
  EXPECT_EQ(f.filter.Sharing(), nullptr);
  EXPECT_EQ(f.Request("10.0.0.7", {{"HTTP_USER_AGENT", "bot"}}), SF_STATUS_REQ_FINISHED);
  EXPECT_NE(test::ProgramLog(folder, f.clock).find(messages::kShareUnavailable), std::string::npos);
}
#endif

}  // namespace
}  // namespace sentrel
