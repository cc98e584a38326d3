// The client table: record creation, progress copies, listed addresses, the
// bound on the number of records shared by IPv4 and IPv6 clients (checked
// against a plain map under random work), and many threads meeting the same
// addresses of both families while records move between them.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "filter/logging/program_messages.h"
#include "filter/settings/filter_settings.h"
#include "filter/tracking/cache_journal.h"
#include "filter/tracking/client_table.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/run_together.h"

namespace sentrel {
namespace {

struct TableFixture {
  platform::FakeClock clock{1700000000};
  std::atomic<std::uint8_t> pending{0};
  std::vector<ModuleProgress> progressTemplate{ModuleProgress{1, 1, 0, 0, 0}, ModuleProgress{1, 2, 0, 0, 0}};
  AddressRanges listed;
  ClientTable table{clock, pending, progressTemplate, listed};
  TableFixture() { table.SetIpv6Prefix(64); }
};

// A client of either family: an IPv4 key, or (v6) an IPv6 /64 whose low
// 32 bits of the first half are `n`.
struct AnyKey {
  bool v6 = false;
  std::uint32_t n = 0;
  auto operator<=>(const AnyKey&) const = default;
  Ipv6Address Prefix() const { return {0x20010db800000000ull | n, 0}; }
  ClientTable::Client Lookup(ClientTable& t) const { return v6 ? t.LookupClient(Prefix()) : t.LookupClient(n); }
  ClientTally* Find(ClientTable& t) const { return v6 ? t.Find(Prefix()) : t.Find(n); }
  bool Owns(const ClientTally& r) const { return r.IsIpv6() == v6 && (v6 ? r.Key6() == Prefix() : r.Key() == n); }
  bool Listed(const AddressRanges& l) const {
    return (v6 ? l.Find(Prefix(), PrefixLast(Prefix(), 64)) : l.Find(n)).has_value();
  }
};
std::ostream& operator<<(std::ostream& o, const AnyKey& k) { return o << (k.v6 ? "v6 " : "v4 ") << std::hex << k.n; }

TEST(ClientTable, NewRecordDefaults) {
  TableFixture f;
  ClientTable::Client c = f.table.LookupClient(0x0A000007);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->state.load(), ClientState::Normal);
  EXPECT_EQ(c->requestCount, 1u);
  EXPECT_EQ(c->holdUntil.load(), 0u);
  EXPECT_EQ(c->resetMark, ResetMark::None);
  EXPECT_EQ(c->challengeCounts, 0);
  EXPECT_EQ(c->challenge, nullptr);
  ASSERT_EQ(c->Progress().size(), 2u);
  EXPECT_EQ(c->Progress()[1].moduleNumber, 2);
  EXPECT_EQ(f.table.LookupClient(0x0A000007).get(), c.get());
  EXPECT_EQ(f.table.ClientCount(), 1u);
  EXPECT_EQ(f.table.NodeCount(), 4u);  // root and one node per lower level

  // An IPv6 client of the same table; none in a table without IPv6Prefix.
  const AnyKey v6{true, 7};
  EXPECT_NE(v6.Lookup(f.table).get(), c.get());
  EXPECT_EQ(f.table.ClientCount(), 2u);
  TableFixture off;
  off.table.SetIpv6Prefix(0);
  EXPECT_FALSE(v6.Lookup(off.table));
}

TEST(ClientTable, NoProgressWhileStartupIsPending) {
  TableFixture f;
  f.pending = 1;
  EXPECT_TRUE(f.table.LookupClient(1)->Progress().empty());
  f.pending = 0;
  EXPECT_EQ(f.table.LookupClient(2)->Progress().size(), 2u);
}

TEST(ClientTable, ListedAddressesGetTheListStateAndAnEndlessHold) {
  TableFixture f;
  f.listed.Add(0x0A000000, 0x0A0000FF, ClientState::Allowed);
  f.listed.Add(0x0A000010, 0x0A000010, ClientState::Blocked);
  EXPECT_EQ(f.table.LookupClient(0x0A000005)->state.load(), ClientState::Allowed);
  EXPECT_EQ(f.table.LookupClient(0x0A000005)->holdUntil.load(), kHoldForever);
  EXPECT_EQ(f.table.LookupClient(0x0A000010)->state.load(), ClientState::Blocked);
  EXPECT_EQ(f.table.LookupClient(0x0A000100)->state.load(), ClientState::Normal);
  EXPECT_EQ(f.table.LookupClient(0x0A000100)->holdUntil.load(), 0u);
  // Extreme keys work.
  EXPECT_EQ(f.table.LookupClient(0xFFFFFFFE)->state.load(), ClientState::Normal);
  EXPECT_NE(f.table.Find(0xFFFFFFFE), nullptr);
  EXPECT_EQ(f.table.Find(0x01020304), nullptr);
}

// `passes` is a byte: a module that keeps firing (log only, re-armed) must
// still fire after 255 passes instead of counting from 0 again.
TEST(ClientTable, PassCountStopsAtItsLargestValue) {
  ModuleProgress p;
  for (int i = 0; i < 300; ++i) p.CountPass();
  EXPECT_EQ(p.passes, 255);
  EXPECT_EQ(sizeof(ModuleProgress), 8u);
}

// Random creates, lookups, holds and clock steps against a plain map of
// address -> record. Addresses crowd into a few /16s so nodes grow through
// every size and shrink again as records move to other addresses.
TEST(ClientTable, BoundedTableAgreesWithAPlainMap) {
  TableFixture f;
  constexpr std::uint32_t kMax = 300;
  f.table.SetMaxClients(kMax);
  f.listed.Add(0x0A010000, 0x0A0100FF, ClientState::Blocked);
  f.listed.Add(AnyKey{true, 0x10000}.Prefix(), PrefixLast(AnyKey{true, 0x100FF}.Prefix(), 64), ClientState::Blocked);

  // Made during the start-up (journal decisions): never given up, even
  // after their hold ended.
  std::map<AnyKey, ClientTally*> model;
  const AnyKey journaled[] = {{false, 0x0B000001u}, {true, 0x0B000002u}};
  f.pending = 1;
  for (const AnyKey& k : journaled) {
    ClientTable::Client c = k.Lookup(f.table);
    c->state.store(ClientState::Allowed);
    c->holdUntil.store(static_cast<std::uint32_t>(f.clock.Now() + 5));
    model[k] = c.get();
  }
  f.pending = 0;

  std::mt19937 rng(17);  // 32-bit results: keys without narrowing
  auto randomKey = [&] {
    static constexpr std::uint32_t kPrefixes[] = {0x0A000000, 0x0A010000, 0x0A020000, 0xC0A80000};
    // A third of the clients IPv6, in one record pool with the others.
    const bool v6 = rng() % 3 == 0;
    switch (rng() % 3) {
      case 0: return AnyKey{v6, kPrefixes[rng() % 4] | std::uint32_t(rng() & 0xFFFF)};  // sparse
      case 1: return AnyKey{v6, kPrefixes[rng() % 4] | std::uint32_t(rng() & 0x03FF)};
      default: return AnyKey{v6, 0x0A000000u | std::uint32_t(rng() & 0x7F)};  // a hundred clients in one node
    }
  };
  auto mayGiveUp = [&](const AnyKey& key, const ClientTally* r) {
    return key != journaled[0] && key != journaled[1] &&
           static_cast<std::int64_t>(r->holdUntil.load()) <= f.clock.Now();
  };
  // A sweep that finds nothing is not repeated within the same second, so
  // only the first refusal of a second proves that nothing could be taken.
  std::int64_t lastRefusal = 0;

  std::size_t evictions = 0, refusals = 0;
  for (int step = 0; step < 40000; ++step) {
    const int op = static_cast<int>(rng() % 100);
    if (op < 2) {
      f.clock.Advance(static_cast<std::int64_t>(rng() % 40));
      continue;
    }
    const AnyKey key = randomKey();
    ClientTable::Client c = key.Lookup(f.table);
    auto known = model.find(key);
    if (known != model.end()) {
      ASSERT_EQ(c.get(), known->second) << key;
    } else if (!c) {
      // Refused only when no record may be given up.
      ++refusals;
      if (lastRefusal != f.clock.Now()) {
        for (const auto& [k, r] : model) ASSERT_FALSE(mayGiveUp(k, r)) << k;
      }
      lastRefusal = f.clock.Now();
      continue;
    } else {
      ASSERT_TRUE(key.Owns(*c)) << key;
      ASSERT_EQ(c->requestCount, 1u);
      ASSERT_EQ(c->Progress().size(), 2u);
      for (const ModuleProgress& p : c->Progress()) ASSERT_EQ(p.stepHits, 0u);
      const bool listed = key.Listed(f.listed);
      ASSERT_EQ(c->holdUntil.load(), listed ? kHoldForever : 0u);
      for (auto it = model.begin(); it != model.end(); ++it) {
        if (it->second != c.get()) continue;
        ++evictions;
        ASSERT_EQ(model.size(), kMax);
        model.erase(it);
        break;
      }
      model[key] = c.get();
    }
    ASSERT_LE(model.size(), std::max<std::size_t>(kMax, 2));
    ASSERT_EQ(f.table.ClientCount(), model.size());
    // What the request does with its client.
    platform::ScopedLock lock(c->lock);
    c->Progress()[0].stepHits = key.n;
    c->requestCount += 1;
    if (op < 12) {
      c->state.store(ClientState::Blocked);
      c->holdUntil.store(static_cast<std::uint32_t>(f.clock.Now() + rng() % 3000));
    } else if (op < 14 && c->holdUntil.load() != kHoldForever) {
      c->state.store(ClientState::Normal);
      c->holdUntil.store(static_cast<std::uint32_t>(f.clock.Now()));
    }

    if (step % 4000 == 0) {
      for (const auto& [k, r] : model) {
        ASSERT_EQ(k.Find(f.table), r) << k;
        if (!r->Progress().empty() && r->Progress()[0].stepHits != 0) {
          ASSERT_EQ(r->Progress()[0].stepHits, k.n);
        }
      }
      for (int i = 0; i < 200; ++i) {
        const AnyKey k = randomKey();
        if (!model.count(k)) {
          ASSERT_EQ(k.Find(f.table), nullptr) << k;
        }
      }
    }
  }
  EXPECT_GT(evictions, 1000u) << refusals;
  EXPECT_GT(refusals, 0u);
  EXPECT_EQ(f.table.EvictionCount(), evictions);
  // Emptied nodes leave the tree: nodes follow the clients, not the history.
  EXPECT_LE(f.table.NodeCount(), 1 + 3 * f.table.ClientCount());
  EXPECT_NE(journaled[0].Find(f.table), nullptr);
  EXPECT_NE(journaled[1].Find(f.table), nullptr);
}

// The clock hand gives up the client not seen for longest first: a client
// looked up again since the hand passed keeps its record.
TEST(ClientTable, RecentlySeenClientsKeepTheirRecords) {
  TableFixture f;
  f.table.SetMaxClients(3);
  for (std::uint32_t k = 1; k <= 3; ++k) f.table.LookupClient(k);
  f.table.LookupClient(4);  // the hand clears every mark, then gives up 1
  EXPECT_EQ(f.table.Find(1), nullptr);
  f.table.LookupClient(2);  // seen again
  f.table.LookupClient(5);
  EXPECT_NE(f.table.Find(2), nullptr);
  EXPECT_EQ(f.table.Find(3), nullptr);
  // A record a request still holds is not given up.
  ClientTable::Client held = f.table.LookupClient(4);
  f.table.LookupClient(6);
  f.table.LookupClient(7);
  EXPECT_NE(f.table.Find(4), nullptr);
  EXPECT_EQ(f.table.ClientCount(), 3u);
}

// Threads look up and create clients over more addresses than the bound,
// while records move between addresses and some clients are put on hold.
// Each request stamps its address into its record's progress under the
// record's lock: a record handed to another address starts from fresh
// progress, so a stamp of another address means a request saw another
// client's progress.
TEST(ClientTableConcurrency, RecordsMoveSafelyUnderReaders) {
  TableFixture f;
  constexpr std::uint32_t kMax = 64;
  f.table.SetMaxClients(kMax);
  constexpr int kThreads = 6;
  constexpr int kRounds = 20000;
  std::atomic<int> foreign{0}, wrongKey{0}, served{0};
  auto KeyOf = [](std::uint32_t n) {
    return AnyKey{(n & 1) != 0, ((n & 7) << 24) | ((n >> 3 & 3) << 16) | ((n >> 5) << 3) | 1u};
  };
  test::RunTogether(kThreads, [&](int t) {
    std::mt19937 rng(static_cast<std::uint32_t>(t) + 1);
    for (int i = 0; i < kRounds; ++i) {
      // 512 addresses over several nodes of every level, half of them IPv6.
      const AnyKey key = KeyOf(rng() % 512);
      ClientTable::Client c = key.Lookup(f.table);
      if (!c) continue;
      served.fetch_add(1, std::memory_order_relaxed);
      if (!key.Owns(*c)) wrongKey.fetch_add(1);
      platform::ScopedLock lock(c->lock);
      ModuleProgress& p = c->Progress()[1];
      const std::uint32_t stamp = key.n | (key.v6 ? 0x80000000u : 0);
      if (p.stepHits != 0 && p.stepHits != stamp) foreign.fetch_add(1);
      p.stepHits = stamp;
      c->requestCount += 1;
      if (rng() % 500 == 0) {
        c->state.store(ClientState::Blocked, std::memory_order_relaxed);
        c->holdUntil.store(static_cast<std::uint32_t>(f.clock.Now() + 1), std::memory_order_relaxed);
      }
      if (t == 0 && i % 500 == 0) f.clock.Advance(1);
    }
  });
  EXPECT_EQ(foreign.load(), 0);
  EXPECT_EQ(wrongKey.load(), 0);
  EXPECT_GT(served.load(), kThreads * kRounds / 10);
  EXPECT_GT(f.table.EvictionCount(), 1000u);

  // No lost or doubled record: every record is found under its own key.
  std::set<ClientTally*> distinct;
  for (std::uint32_t n = 0; n < 512; ++n) {
    if (ClientTally* r = KeyOf(n).Find(f.table)) {
      EXPECT_TRUE(KeyOf(n).Owns(*r)) << KeyOf(n);
      EXPECT_TRUE(distinct.insert(r).second);
    }
  }
  EXPECT_EQ(distinct.size(), f.table.ClientCount());
  EXPECT_EQ(f.table.ClientCount(), kMax);
}

// A lookup that found a record which is moved to another address before it
// pins it must not return it: it looks again and gets a record of its own.
// Records move between the families too.
TEST(ClientTable, ALookupNeverReturnsARecordMovedMeanwhile) {
  const AnyKey v4a{false, 0x0A000001}, v4b{false, 0x0A000002}, v6a{true, 1}, v6b{true, 2};
  const std::pair<AnyKey, AnyKey> moves[] = {{v4a, v4b}, {v6a, v6b}, {v4a, v6b}, {v6a, v4b}};
  for (const auto& [owner, taker] : moves) {
    TableFixture f;
    f.table.SetMaxClients(1);
    ClientTally* first = owner.Lookup(f.table).get();
    bool moved = false;
    f.table.SetReadPauseForTest([&] {
      if (moved) return;
      moved = true;
      EXPECT_EQ(taker.Lookup(f.table).get(), first) << taker;  // takes the record over
    });
    ClientTable::Client again = owner.Lookup(f.table);
    f.table.SetReadPauseForTest({});
    ASSERT_TRUE(moved) << owner;
    ASSERT_TRUE(again) << owner;
    EXPECT_TRUE(owner.Owns(*again)) << owner;
    EXPECT_EQ(taker.Find(f.table), nullptr) << taker;
    EXPECT_EQ(f.table.ClientCount(), 1u);
  }
}

// Many threads look up the same new addresses at once and must share one
// record per address, while others append journal lines.
TEST(ClientTableConcurrency, OneRecordPerAddressUnderContention) {
  TableFixture f;
  test::SettingsFolder folder;
  CacheJournal journal{f.clock};
  journal.Configure(NormalizeFolderPath(folder.Root()), 3);

  constexpr int kThreads = 8;
  constexpr int kAddresses = 2000;
  std::vector<std::vector<ClientTally*>> seen(kThreads, std::vector<ClientTally*>(kAddresses));
  test::RunTogether(kThreads, [&](int t) {
    for (int i = 0; i < kAddresses; ++i) {
      // Spread over many nodes: vary every byte; every other one IPv6.
      const AnyKey key{i % 2 == 1, 0x0B000000u + static_cast<std::uint32_t>(i) * 0x00010101u};
      ClientTable::Client c = key.Lookup(f.table);
      seen[t][i] = c.get();
      if (t % 2 == 0) {
        platform::ScopedLock lock(c->lock);
        c->requestCount++;
      } else if (i % 50 == 0) {
        journal.WriteCacheLine("11.0.0.1", ClientState::Blocked, 1700000600);
      }
    }
  });

  for (int i = 0; i < kAddresses; ++i) {
    for (int t = 1; t < kThreads; ++t) ASSERT_EQ(seen[t][i], seen[0][i]) << i;
    EXPECT_EQ(seen[0][i]->requestCount, 1u + kThreads / 2);
  }
  EXPECT_EQ(f.table.ClientCount(), static_cast<std::size_t>(kAddresses));
  journal.Flush();
  std::string text = folder.Read("Cache/2023-11-14.txt");
  std::size_t lines = 0;
  for (char ch : text) lines += ch == '\n';
  EXPECT_EQ(lines, static_cast<std::size_t>((kThreads / 2) * (kAddresses / 50)));
}

// The bound through the filter: held clients keep their records, a new
// client that finds no record to take over passes unchecked, and the full
// table is reported at most once a minute.
TEST(ClientLimit, NewClientsPassUncheckedWhileEveryRecordIsHeld) {
  test::SettingsFolder folder;
  folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\nCacheMin=1\r\nMaxClients=2\r\n");
  folder.Write("Cache/2023-11-14.txt", "1700009999,2,9.9.9.9\r\n");  // a journal decision
  folder.AddModule("bot.ini", test::AgentModule("Bot", "0", "1"));

  test::FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  f.CompleteStartup();
  ASSERT_FALSE(f.filter.StartupPending());
  ASSERT_EQ(f.filter.Clients().MaxClients(), 2u);
  auto bot_ = [&](const std::string& address) { return f.Request(address, {{"HTTP_USER_AGENT", "bot"}}); };
  const std::string limitLine = [] {
    char text[128];
    std::snprintf(text, sizeof(text), messages::kClientLimitFormat, 2u);
    return std::string(text);
  }();
  auto limitMessages = [&] {
    const std::string log = test::ProgramLog(folder, f.clock);
    std::size_t count = 0;
    for (std::size_t at = log.find(limitLine); at != std::string::npos; at = log.find(limitLine, at + 1)) ++count;
    return count;
  };

  // The journal's record counts against the bound but is never given up.
  EXPECT_EQ(bot_("10.0.0.1"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(f.filter.Clients().ClientCount(), 2u);
  EXPECT_EQ(bot_("10.0.0.2"), SF_STATUS_REQ_NEXT_NOTIFICATION);  // unchecked
  EXPECT_EQ(f.filter.Clients().Find(0x0A000002), nullptr);
  EXPECT_EQ(limitMessages(), 1u);
  f.clock.Advance(59);
  EXPECT_EQ(bot_("10.0.0.3"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(limitMessages(), 1u);
  f.clock.Advance(1);
  EXPECT_EQ(bot_("10.0.0.3"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(limitMessages(), 2u);
  EXPECT_EQ(bot_("10.0.0.1"), SF_STATUS_REQ_FINISHED);  // still held
  EXPECT_EQ(f.Request("9.9.9.9"), SF_STATUS_REQ_NEXT_NOTIFICATION);  // still allowed

  // Once the hold of 10.0.0.1 has run out, its record can go to a new client.
  f.clock.Advance(600);
  EXPECT_EQ(bot_("10.0.0.4"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(f.filter.Clients().Find(0x0A000001), nullptr);
  EXPECT_NE(f.filter.Clients().Find(0x09090909), nullptr);
  EXPECT_EQ(f.filter.Clients().ClientCount(), 2u);
  EXPECT_EQ(limitMessages(), 2u);
}

}  // namespace
}  // namespace sentrel
