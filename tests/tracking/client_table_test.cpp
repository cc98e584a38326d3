// The client table: record creation, progress copies, listed addresses, and
// many threads meeting the same new addresses at once.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "filter/settings/filter_settings.h"
#include "filter/tracking/cache_journal.h"
#include "filter/tracking/client_table.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/run_together.h"

namespace sentrel {
namespace {

struct TableFixture {
  std::atomic<std::uint8_t> pending{0};
  std::vector<ModuleProgress> progressTemplate{ModuleProgress{1, 1, 0, 0, 0}, ModuleProgress{1, 2, 0, 0, 0}};
  AddressRanges listed;
  ClientTable table{pending, progressTemplate, listed};
};

TEST(ClientTable, NewRecordDefaults) {
  TableFixture f;
  ClientTally& c = f.table.LookupClient(0x0A000007);
  EXPECT_EQ(c.state.load(), ClientState::Normal);
  EXPECT_EQ(c.requestCount, 1u);
  EXPECT_EQ(c.holdUntil.load(), 0u);
  EXPECT_EQ(c.resetMark, ResetMark::None);
  EXPECT_EQ(c.challengeCounts, 0);
  EXPECT_EQ(c.challenge, nullptr);
  ASSERT_EQ(c.progress.size(), 2u);
  EXPECT_EQ(c.progress[1].moduleNumber, 2);
  EXPECT_EQ(&f.table.LookupClient(0x0A000007), &c);
  EXPECT_EQ(f.table.ClientCount(), 1u);
  EXPECT_EQ(f.table.NodeCount(), 4u);  // root and one node per lower level
}

TEST(ClientTable, NoProgressWhileStartupIsPending) {
  TableFixture f;
  f.pending = 1;
  EXPECT_TRUE(f.table.LookupClient(1).progress.empty());
  f.pending = 0;
  EXPECT_EQ(f.table.LookupClient(2).progress.size(), 2u);
}

TEST(ClientTable, ListedAddressesGetTheListStateAndAnEndlessHold) {
  TableFixture f;
  f.listed.Add(0x0A000000, 0x0A0000FF, ClientState::Allowed);
  f.listed.Add(0x0A000010, 0x0A000010, ClientState::Blocked);
  EXPECT_EQ(f.table.LookupClient(0x0A000005).state.load(), ClientState::Allowed);
  EXPECT_EQ(f.table.LookupClient(0x0A000005).holdUntil.load(), kHoldForever);
  EXPECT_EQ(f.table.LookupClient(0x0A000010).state.load(), ClientState::Blocked);
  EXPECT_EQ(f.table.LookupClient(0x0A000100).state.load(), ClientState::Normal);
  EXPECT_EQ(f.table.LookupClient(0x0A000100).holdUntil.load(), 0u);
  // Extreme keys work.
  EXPECT_EQ(f.table.LookupClient(0xFFFFFFFE).state.load(), ClientState::Normal);
  EXPECT_NE(f.table.Find(0xFFFFFFFE), nullptr);
  EXPECT_EQ(f.table.Find(0x01020304), nullptr);
}

// Many threads look up the same new addresses at once and must share one
// record per address, while others append journal lines.
TEST(ClientTableConcurrency, OneRecordPerAddressUnderContention) {
  TableFixture f;
  test::SettingsFolder folder;
  platform::FakeClock clock{1700000000};
  CacheJournal journal{clock};
  journal.Configure(NormalizeFolderPath(folder.Root()), 3);

  constexpr int kThreads = 8;
  constexpr int kAddresses = 2000;
  std::vector<std::vector<ClientTally*>> seen(kThreads, std::vector<ClientTally*>(kAddresses));
  test::RunTogether(kThreads, [&](int t) {
    for (int i = 0; i < kAddresses; ++i) {
      // Spread over many nodes: vary every byte.
      std::uint32_t key = 0x0B000000u + static_cast<std::uint32_t>(i) * 0x00010101u;
      ClientTally& c = f.table.LookupClient(key);
      seen[t][i] = &c;
      if (t % 2 == 0) {
        platform::ScopedLock lock(c.lock);
        c.requestCount++;
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

}  // namespace
}  // namespace sentrel
