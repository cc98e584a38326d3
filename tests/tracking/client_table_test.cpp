// The client table: record creation, progress copies, listed addresses, the
// bound on the number of records (checked against a plain map under random
// work), and many threads meeting the same addresses while records move.
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
};

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

  // Made during the start-up (journal decisions): never given up, even
  // after their hold ended.
  std::map<std::uint32_t, ClientTally*> model;
  f.pending = 1;
  for (std::uint32_t k : {0x0B000001u, 0x0B000002u}) {
    ClientTable::Client c = f.table.LookupClient(k);
    c->state.store(ClientState::Allowed);
    c->holdUntil.store(static_cast<std::uint32_t>(f.clock.Now() + 5));
    model[k] = c.get();
  }
  f.pending = 0;

  std::mt19937 rng(17);
  auto randomKey = [&] {
    static constexpr std::uint32_t kPrefixes[] = {0x0A000000, 0x0A010000, 0x0A020000, 0xC0A80000};
    switch (rng() % 3) {
      case 0: return kPrefixes[rng() % 4] | (rng() & 0xFFFF);  // sparse
      case 1: return kPrefixes[rng() % 4] | (rng() & 0x03FF);
      default: return 0x0A000000u | (rng() & 0x7F);  // a hundred clients in one node
    }
  };
  auto mayGiveUp = [&](std::uint32_t key, const ClientTally* r) {
    return key != 0x0B000001u && key != 0x0B000002u &&
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
    const std::uint32_t key = randomKey();
    ClientTable::Client c = f.table.LookupClient(key);
    auto known = model.find(key);
    if (known != model.end()) {
      ASSERT_EQ(c.get(), known->second) << std::hex << key;
    } else if (!c) {
      // Refused only when no record may be given up.
      ++refusals;
      if (lastRefusal != f.clock.Now()) {
        for (const auto& [k, r] : model) ASSERT_FALSE(mayGiveUp(k, r)) << std::hex << k;
      }
      lastRefusal = f.clock.Now();
      continue;
    } else {
      ASSERT_EQ(c->Key(), key);
      ASSERT_EQ(c->requestCount, 1u);
      ASSERT_EQ(c->Progress().size(), 2u);
      for (const ModuleProgress& p : c->Progress()) ASSERT_EQ(p.stepHits, 0u);
      const bool listed = f.listed.Find(key).has_value();
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
    c->Progress()[0].stepHits = key;
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
        ASSERT_EQ(f.table.Find(k), r) << std::hex << k;
        if (!r->Progress().empty() && r->Progress()[0].stepHits != 0) {
          ASSERT_EQ(r->Progress()[0].stepHits, k);
        }
      }
      for (int i = 0; i < 200; ++i) {
        const std::uint32_t k = randomKey();
        if (!model.count(k)) {
          ASSERT_EQ(f.table.Find(k), nullptr) << std::hex << k;
        }
      }
    }
  }
  EXPECT_GT(evictions, 1000u) << refusals;
  EXPECT_GT(refusals, 0u);
  EXPECT_EQ(f.table.EvictionCount(), evictions);
  // Emptied nodes leave the tree: nodes follow the clients, not the history.
  EXPECT_LE(f.table.NodeCount(), 1 + 3 * f.table.ClientCount());
  EXPECT_NE(f.table.Find(0x0B000001u), nullptr);
  EXPECT_NE(f.table.Find(0x0B000002u), nullptr);
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
  test::RunTogether(kThreads, [&](int t) {
    std::mt19937 rng(static_cast<std::uint32_t>(t) + 1);
    for (int i = 0; i < kRounds; ++i) {
      // 512 addresses over several nodes of every level.
      const std::uint32_t n = rng() % 512;
      const std::uint32_t key = ((n & 7) << 24) | ((n >> 3 & 3) << 16) | ((n >> 5) << 3) | 1u;
      ClientTable::Client c = f.table.LookupClient(key);
      if (!c) continue;
      served.fetch_add(1, std::memory_order_relaxed);
      if (c->Key() != key) wrongKey.fetch_add(1);
      platform::ScopedLock lock(c->lock);
      ModuleProgress& p = c->Progress()[1];
      if (p.stepHits != 0 && p.stepHits != key) foreign.fetch_add(1);
      p.stepHits = key;
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
    const std::uint32_t key = ((n & 7) << 24) | ((n >> 3 & 3) << 16) | ((n >> 5) << 3) | 1u;
    if (ClientTally* r = f.table.Find(key)) {
      EXPECT_EQ(r->Key(), key);
      EXPECT_TRUE(distinct.insert(r).second);
    }
  }
  EXPECT_EQ(distinct.size(), f.table.ClientCount());
  EXPECT_EQ(f.table.ClientCount(), kMax);
}

// Many threads look up the same new addresses at once and must share one
// record per address, while others append journal lines.
// A lookup that found a record which is moved to another address before it
// pins it must not return it: it looks again and gets a record of its own.
TEST(ClientTable, ALookupNeverReturnsARecordMovedMeanwhile) {
  TableFixture f;
  f.table.SetMaxClients(1);
  ClientTally* first = f.table.LookupClient(0x0A000001).get();
  bool moved = false;
  f.table.SetReadPauseForTest([&] {
    if (moved) return;
    moved = true;
    EXPECT_EQ(f.table.LookupClient(0x0A000002).get(), first);  // takes the record over
  });
  ClientTable::Client again = f.table.LookupClient(0x0A000001);
  f.table.SetReadPauseForTest({});
  ASSERT_TRUE(moved);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Key(), 0x0A000001u);
  EXPECT_EQ(f.table.Find(0x0A000002), nullptr);
  EXPECT_EQ(f.table.ClientCount(), 1u);
}

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
      // Spread over many nodes: vary every byte.
      std::uint32_t key = 0x0B000000u + static_cast<std::uint32_t>(i) * 0x00010101u;
      ClientTable::Client c = f.table.LookupClient(key);
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
