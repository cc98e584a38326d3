// Filter instances sharing decisions through a Redis server of the test's
// own: what one decides the other applies, a reload restores it, an outage
// never holds a request up, and nothing read from the server that fails its
// checks reaches a client table. Applying happens on the share's thread, so
// the tests poll for it with a deadline.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "filter/logging/program_messages.h"
#include "filter/tracking/client_address.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/redis_server.h"

namespace sentrel {
namespace {

using test::AgentModule;
using test::FilterUnderTest;
using test::SettingsFolder;
using Steady = std::chrono::steady_clock;

// Waits up to `seconds` for `done`.
bool Eventually(const std::function<bool()>& done, int seconds = 20) {
  const auto deadline = Steady::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Steady::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

share::ShareCounts Counts(FilterUnderTest& f) { return f.filter.Sharing()->Counts(); }

// The client of an address, IPv6 clients by their /64.
ClientAddress Client(const std::string& address) { return ReadClientAddress(address, 64); }

class SharingConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SENTREL_NEED_REDIS(redis);
  }

  // A settings folder sharing through the test's server, with a module per
  // action: its third request whose user agent names the action decides.
  std::unique_ptr<SettingsFolder> Site() {
    auto folder = std::make_unique<SettingsFolder>();
    folder->Write("Config.ini",
                  "[Config]\r\nCacheMin=1\r\nIPv6Prefix=64\r\n[Share]\r\nServer=" + redis.Address() + "\r\n");
    folder->Write("Code.html", "<form>code</form>\r\n");
    folder->AddModule("block.ini", AgentModule("Block", "0", "3", "600", "blockme"));
    folder->AddModule("allow.ini", AgentModule("Allow", "2", "3", "600", "allowme"));
    folder->AddModule("code.ini", AgentModule("Code", "3", "3", "600", "codeme"));
    return folder;
  }
  std::unique_ptr<FilterUnderTest> Start(const SettingsFolder& folder) {
    auto f = std::make_unique<FilterUnderTest>(folder);
    EXPECT_EQ(f->host.Load(), TRUE);
    f->CompleteStartup();
    EXPECT_FALSE(f->filter.StartupPending());
    return f;
  }
  static DWORD Agent(FilterUnderTest& f, const std::string& address, const std::string& agent) {
    return f.Request(address, {{"HTTP_USER_AGENT", agent}});
  }
  static void Decide(FilterUnderTest& f, const std::string& address, const std::string& agent) {
    for (int i = 0; i < 3; ++i) Agent(f, address, agent);
  }

  test::RedisServer redis;
};

TEST_F(SharingConcurrencyTest, EachDecisionReachesTheOtherInstanceAndEndsWithItsHold) {
  auto siteA = Site(), siteB = Site();
  auto a = Start(*siteA), b = Start(*siteB);
  struct Case {
    const char* address;
    const char* agent;
    ClientState state;
    DWORD firstAnswerOnB;
  } cases[] = {
      {"10.0.0.1", "blockme", ClientState::Blocked, SF_STATUS_REQ_FINISHED},
      {"10.0.0.2", "allowme", ClientState::Allowed, SF_STATUS_REQ_NEXT_NOTIFICATION},
      // B challenges with a code of its own: the Code page.
      {"10.0.0.3", "codeme", ClientState::PictureCode, SF_STATUS_REQ_FINISHED},
      // An IPv6 client travels as its prefix.
      {"2001:db8:0:7::1", "blockme", ClientState::Blocked, SF_STATUS_REQ_FINISHED},
  };
  // B has counted one request of each client before A decides.
  for (const Case& c : cases) EXPECT_EQ(Agent(*b, c.address, c.agent), SF_STATUS_REQ_NEXT_NOTIFICATION);
  for (const Case& c : cases) Decide(*a, c.address, c.agent);
  ASSERT_TRUE(Eventually([&] { return Counts(*b).applied == 4; })) << Counts(*b).applied;

  const auto holdEnd = static_cast<std::uint32_t>(a->clock.Now() + 600);
  for (const Case& c : cases) {
    const ClientTally* onB = b->filter.Clients().Find(Client(c.address));
    ASSERT_NE(onB, nullptr) << c.address;
    EXPECT_EQ(onB->state.load(), c.state) << c.address;
    EXPECT_EQ(onB->holdUntil.load(), holdEnd) << c.address;
    testhost::TestRequest* answer = nullptr;
    EXPECT_EQ(b->Request(c.address, {{"HTTP_USER_AGENT", c.agent}}, &answer), c.firstAnswerOnB) << c.address;
    if (c.state == ClientState::PictureCode) {
      EXPECT_NE(answer->body.find("code"), std::string::npos);
    }
  }
  // Nothing comes back to A, and B published nothing of its own.
  EXPECT_EQ(Counts(*a).published, 4u);
  EXPECT_EQ(Counts(*a).applied, 0u);
  EXPECT_EQ(Counts(*b).published, 0u);
  EXPECT_EQ(Counts(*b).rejected, 0u);
  const std::string page = b->filter.MetricsPage();
  EXPECT_NE(page.find("sentrel_share_entries_total{what=\"applied\"} 4\n"), std::string::npos) << page;
  EXPECT_NE(page.find("sentrel_share_connected 1\n"), std::string::npos) << page;

  // Once the hold has ended both evaluate the client afresh: the first
  // request of a well-behaved agent passes everywhere.
  a->clock.Advance(601);
  b->clock.Advance(601);
  for (const Case& c : cases) {
    EXPECT_EQ(Agent(*a, c.address, "browser"), SF_STATUS_REQ_NEXT_NOTIFICATION) << c.address;
    EXPECT_EQ(Agent(*b, c.address, "browser"), SF_STATUS_REQ_NEXT_NOTIFICATION) << c.address;
    EXPECT_EQ(b->filter.Clients().Find(Client(c.address))->state.load(), ClientState::Normal) << c.address;
  }
}

TEST_F(SharingConcurrencyTest, AReloadRestoresTheDecisionFromTheServerWithoutItsDayFile) {
  auto siteA = Site();
  auto a = Start(*siteA);
  Decide(*a, "10.0.0.1", "blockme");
  ASSERT_TRUE(Eventually([&] { return Counts(*a).published == 1; }));
  const std::int64_t decidedAt = a->clock.Now();
  a->host.Unload();
  a.reset();
  for (const std::string& name : siteA->List("Cache")) siteA->Folder().Remove("site/Cache/" + name);

  auto again = std::make_unique<FilterUnderTest>(*siteA, decidedAt + 10);
  ASSERT_EQ(again->host.Load(), TRUE);
  again->CompleteStartup();
  EXPECT_EQ(Counts(*again).applied, 1u);
  EXPECT_EQ(Agent(*again, "10.0.0.1", "browser"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(again->filter.Clients().Find(Client("10.0.0.1"))->holdUntil.load(), decidedAt + 600);
}

TEST_F(SharingConcurrencyTest, AnOutageHoldsNoRequestUpAndWhatWasDecidedMeanwhileArrivesAfter) {
  auto siteA = Site(), siteB = Site();
  auto a = Start(*siteA), b = Start(*siteB);
  redis.Pause();  // connections stay open, nothing answers: the worst kind
  Steady::duration slowest{};
  int blocked = 0;
  for (int client = 1; client <= 9; ++client) {
    for (int i = 0; i < 3; ++i) {
      const auto start = Steady::now();
      blocked += Agent(*a, "10.0.0." + std::to_string(client), "blockme") == SF_STATUS_REQ_FINISHED;
      slowest = std::max(slowest, Steady::now() - start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // spread over the connections' timeouts
  }
  EXPECT_EQ(blocked, 9);
  const auto slowestMs = std::chrono::duration_cast<std::chrono::microseconds>(slowest).count() / 1000.0;
  RecordProperty("slowest_request_ms", std::to_string(slowestMs));
  std::printf("slowest request during the outage: %.3f ms\n", slowestMs);
  // A request that waited on the server would wait for a command timeout
  // (1 s) at least.
  EXPECT_LT(slowestMs, 500.0);

  ASSERT_TRUE(redis.Restart()) << redis.Problem();  // empty again: only the instances remember
  // Every client decided meanwhile is blocked on B too (some decisions may
  // arrive twice, from the keys read at the reconnection and the stream).
  auto blockedOnB = [&] {
    for (int client = 1; client <= 9; ++client) {
      const ClientTally* t = b->filter.Clients().Find(Client("10.0.0." + std::to_string(client)));
      if (t == nullptr || t->state.load() != ClientState::Blocked) return false;
    }
    return true;
  };
  ASSERT_TRUE(Eventually(blockedOnB));
  EXPECT_EQ(Agent(*b, "10.0.0.9", "browser"), SF_STATUS_REQ_FINISHED);
  ASSERT_TRUE(Eventually([&] { return Counts(*a).connected && Counts(*b).connected; }));
  // One line per outage and instance, however many requests came meanwhile.
  const std::string down(messages::kShareDownFormat, std::string(messages::kShareDownFormat).find("%s"));
  for (FilterUnderTest* f : {a.get(), b.get()}) {
    const std::string log = test::ProgramLog(f == a.get() ? *siteA : *siteB, f->clock);
    std::size_t lines = 0;
    for (std::size_t at = log.find(down); at != std::string::npos; at = log.find(down, at + 1)) ++lines;
    EXPECT_EQ(lines, 1u) << log;
  }
}

TEST_F(SharingConcurrencyTest, UnloadWithAFrozenServerDropsTheQueueWithinItsDeadline) {
  auto siteA = Site();
  auto a = Start(*siteA);
  redis.Pause();
  for (int client = 1; client <= 5; ++client) Decide(*a, "10.0.0." + std::to_string(client), "blockme");
  const auto start = Steady::now();
  a->host.Unload();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
  std::printf("unload with a frozen server: %lld ms\n", static_cast<long long>(took));
  EXPECT_LT(took, 2000);  // the deadline is half a second; a hang would be much longer
  EXPECT_EQ(Counts(*a).published + Counts(*a).dropped, 5u);
  EXPECT_EQ(Counts(*a).published, 0u);
  redis.Resume();
}

// A key written while an instance was not following (here: without a
// stream entry at all) is applied once it reconnects; an address on the
// instance's own lists keeps its listing.
TEST_F(SharingConcurrencyTest, AReconnectionReadsTheLiveKeysAgainAndListedAddressesStand) {
  auto siteB = Site();
  siteB->Write("UnLimitIP.txt", "10.0.0.8\r\n");
  auto b = Start(*siteB);
  const std::string soon = std::to_string(b->clock.Now() + 600);
  ASSERT_EQ(redis.Cli({"SET", "sentrel:d:10.0.0.7", soon + ",0,x"}).status, 0);
  ASSERT_EQ(redis.Cli({"XADD", "sentrel:decisions", "*", "origin", "x", "address", "10.0.0.8", "state", "0", "hold",
                       soon})
                .status,
            0);
  ASSERT_TRUE(Eventually([&] { return Counts(*b).skipped == 1; }));
  EXPECT_EQ(Agent(*b, "10.0.0.8", "blockme"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Counts(*b).applied, 0u);

  // B's follower loses its connection (found by the name it gives it), then
  // reconnects and reads the keys.
  const std::string clients = redis.Cli({"CLIENT", "LIST"}).out;
  const std::string name = "name=sentrel-" + b->filter.Sharing()->Origin() + "-follower";
  const std::size_t line = clients.rfind("id=", clients.find(name));
  ASSERT_TRUE(clients.find(name) != std::string::npos && line != std::string::npos) << clients;
  const std::string id = clients.substr(line + 3, clients.find(' ', line) - line - 3);
  ASSERT_EQ(redis.Cli({"CLIENT", "KILL", "ID", id}).out, "1\n");
  ASSERT_TRUE(Eventually([&] {
    const ClientTally* t = b->filter.Clients().Find(Client("10.0.0.7"));
    return t != nullptr && t->state.load() == ClientState::Blocked;
  })) << Counts(*b).applied << " applied, " << Counts(*b).skipped << " skipped";
  EXPECT_EQ(Agent(*b, "10.0.0.7", "browser"), SF_STATUS_REQ_FINISHED);
}

TEST_F(SharingConcurrencyTest, BadEntriesAreSkippedCountedAndNeverReachTheTable) {
  auto siteB = Site();
  auto b = Start(*siteB);
  const std::string soon = std::to_string(b->clock.Now() + 600);
  const std::string good = soon + ",0,x";
  const std::string huge(1 << 20, '1');
  // Each written with redis-cli; a value too long for an argument comes
  // from standard input (-x), as the command's last argument.
  struct Write {
    std::vector<std::string> arguments;
    std::string input;
  };
  auto write = [&](const Write& w) {
    const test::ProgramResult r = redis.Cli(w.arguments, w.input);
    ASSERT_EQ(r.status, 0) << r.Output();
    ASSERT_EQ(r.out.find("ERR"), std::string::npos) << r.Output();
  };
  const Write badEntries[] = {
      {{"XADD", "sentrel:decisions", "*", "garbage", "text"}, ""},
      {{"XADD", "sentrel:decisions", "*", "origin", "x", "address", "300.0.0.1", "state", "0", "hold", soon}, ""},
      {{"XADD", "sentrel:decisions", "*", "origin", "x", "address", "10.0.0.2", "state", "7", "hold", soon}, ""},
      {{"XADD", "sentrel:decisions", "*", "origin", "x", "address", "10.0.0.3", "state", "0", "hold", "4102444800"},
       ""},
      {{"XADD", "sentrel:decisions", "*", "origin", "x", "address", "10.0.0.4", "state", "0", "hold", "1000"}, ""},
      {{"-x", "XADD", "sentrel:decisions", "*", "origin", "x", "state", "0", "hold", soon, "address"}, huge},
      {{"XADD", "sentrel:decisions", "*", "origin", "x", "address", "10.0.0.5", "state", "0", "hold", soon, "more",
        "x"},
       ""},
  };
  for (const Write& w : badEntries) write(w);
  write({{"XADD", "sentrel:decisions", "*", "origin", "x", "address", "10.0.0.9", "state", "0", "hold", soon}, ""});
  // The good entry after the bad ones is applied: the follower went on.
  ASSERT_TRUE(Eventually([&] { return Counts(*b).applied == 1; })) << Counts(*b).rejected;
  EXPECT_EQ(Counts(*b).rejected, std::size(badEntries));
  EXPECT_EQ(b->filter.Clients().ClientCount(), 1u);
  EXPECT_EQ(Agent(*b, "10.0.0.9", "browser"), SF_STATUS_REQ_FINISHED);

  // Keys are read by an instance that starts.
  const Write badKeys[] = {
      {{"SET", "sentrel:d:10.0.0.1", "garbage"}, ""},
      {{"SET", "sentrel:d:300.0.0.1", good}, ""},
      {{"-x", "SET", "sentrel:d:10.0.0.2"}, huge},
      {{"HSET", "sentrel:d:10.0.0.3", "state", "0"}, ""},
  };
  for (const Write& w : badKeys) write(w);
  write({{"SET", "other:d:10.0.0.4", good}, ""});  // another site's
  write({{"SET", "sentrel:d:10.0.0.6", good}, ""});
  auto siteC = Site();
  auto c = Start(*siteC);
  EXPECT_EQ(Counts(*c).applied, 1u);
  EXPECT_EQ(Counts(*c).rejected, std::size(badKeys));
  EXPECT_EQ(c->filter.Clients().ClientCount(), 1u);
  EXPECT_EQ(Agent(*c, "10.0.0.6", "browser"), SF_STATUS_REQ_FINISHED);
}

}  // namespace
}  // namespace sentrel
