// The decision journal: batching, day files, line format, and reading back.
#include <gtest/gtest.h>

#include <atomic>

#include "filter/settings/filter_settings.h"
#include "filter/tracking/cache_journal.h"
#include "filter/tracking/client_table.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

constexpr std::int64_t kNow = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr std::uint32_t kTenSevenKey = (10u << 24) | 7u;

class JournalTest : public ::testing::Test {
 protected:
  test::SettingsFolder folder;
  platform::FakeClock clock{kNow};
  CacheJournal journal{clock};
  std::atomic<std::uint8_t> pending{1};
  std::vector<ModuleProgress> progressTemplate;
  AddressRanges listed;
  ClientTable table{clock, pending, progressTemplate, listed};

  void Configure(int cacheMin) { journal.Configure(NormalizeFolderPath(folder.Root()), cacheMin); }
  std::string Today() { return folder.Read("Cache/2023-11-14.txt"); }
};

TEST_F(JournalTest, BatchesOfCacheMin) {
  Configure(5);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(journal.WriteCacheLine("10.0.0.7", ClientState::Blocked, 1700000600));
  EXPECT_FALSE(folder.Exists("Cache/2023-11-14.txt"));
  EXPECT_EQ(journal.PendingCount(), 4);
  EXPECT_TRUE(journal.WriteCacheLine("10.0.0.8", ClientState::Allowed, 1700000600));
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "1700000600,0,10.0.0.7\r\n";
  expected += "1700000600,2,10.0.0.8\r\n";
  EXPECT_EQ(Today(), expected);
  EXPECT_EQ(journal.PendingCount(), 0);
}

TEST_F(JournalTest, CacheMinZeroAndOneWriteAtOnce) {
  for (int cacheMin : {0, 1}) {
    folder.Folder().Remove("site/Cache/2023-11-14.txt");
    Configure(cacheMin);
    EXPECT_TRUE(journal.WriteCacheLine("10.0.0.7", ClientState::Allowed, 1700000001));
    EXPECT_EQ(Today(), "1700000001,2,10.0.0.7\r\n") << cacheMin;
  }
}

TEST_F(JournalTest, PendingLinesGoToTheDayOfTheWrite) {
  Configure(2);
  journal.WriteCacheLine("10.0.0.7", ClientState::Blocked, 1700000600);
  clock.Advance(3 * 3600);
  journal.WriteCacheLine("10.0.0.8", ClientState::Blocked, 1700011400);
  EXPECT_FALSE(folder.Exists("Cache/2023-11-14.txt"));
  EXPECT_EQ(folder.Read("Cache/2023-11-15.txt"), "1700000600,0,10.0.0.7\r\n1700011400,0,10.0.0.8\r\n");
}

TEST_F(JournalTest, MissingCacheFolderKeepsLinesPending) {
  Configure(1);
  folder.Folder().Remove("site/Cache");
  EXPECT_FALSE(journal.WriteCacheLine("10.0.0.7", ClientState::Blocked, 1700000600));
  CacheJournal::Counts counts = journal.ReadCounts();
  EXPECT_EQ(counts.linesWritten, 0u);
  EXPECT_EQ(counts.writeFailures, 1u);
  EXPECT_EQ(counts.linesPending, 1u);
  folder.Folder().MakeFolder("site/Cache");
  EXPECT_TRUE(journal.WriteCacheLine("10.0.0.8", ClientState::Blocked, 1700000600));
  EXPECT_EQ(Today(), "1700000600,0,10.0.0.7\r\n1700000600,0,10.0.0.8\r\n");
  counts = journal.ReadCounts();
  EXPECT_EQ(counts.linesWritten, 2u);
  EXPECT_EQ(counts.writeFailures, 1u);
  EXPECT_EQ(counts.linesPending, 0u);
}

TEST_F(JournalTest, FlushWritesPendingLines) {
  Configure(100);
  journal.WriteCacheLine("10.0.0.7", ClientState::Blocked, 1700000600);
  EXPECT_TRUE(journal.Flush());
  EXPECT_EQ(Today(), "1700000600,0,10.0.0.7\r\n");
  EXPECT_TRUE(journal.Flush());
  EXPECT_EQ(Today(), "1700000600,0,10.0.0.7\r\n");
}

TEST_F(JournalTest, ReadingRestoresDecisionsAndLaterLinesWin) {
  Configure(5);
  folder.Write("Cache/2023-11-13.txt",
               "1700000600,0,10.0.0.7\r\n"
               "1700000900,2,10.0.0.8\r\n"
               "1700000900,3,10.0.0.9\r\n"
               "1700000900,1,10.0.0.10\r\n"   // state 1 skipped
               "1700000900,4,10.0.0.11\r\n"   // above 3 skipped
               "1700000900,x,10.0.0.12\r\n"   // not a digit: 0
               "1700000900,0,1.2.3\r\n"       // shorter than 7
               "1700000900,0,100.100.100.1001\r\n");  // longer than 15
  folder.Write("Cache/2023-11-14.txt", "1700001200,2,10.0.0.7\r\n");
  EXPECT_TRUE(journal.LoadCacheFiles(table));
  ClientTally* a = table.Find(kTenSevenKey);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->state.load(), ClientState::Allowed);  // the later file's line
  EXPECT_EQ(a->holdUntil.load(), 1700001200u);
  EXPECT_EQ(a->requestCount, 1u);
  EXPECT_EQ(a->resetMark, ResetMark::None);
  EXPECT_TRUE(a->Progress().empty());
  EXPECT_EQ(table.Find((10u << 24) | 8)->state.load(), ClientState::Allowed);
  EXPECT_EQ(table.Find((10u << 24) | 9)->state.load(), ClientState::PictureCode);
  EXPECT_EQ(table.Find((10u << 24) | 10), nullptr);
  EXPECT_EQ(table.Find((10u << 24) | 11), nullptr);
  EXPECT_EQ(table.Find((10u << 24) | 12)->state.load(), ClientState::Blocked);
  EXPECT_EQ(table.ClientCount(), 4u);
}

// Expired lines: within 48 hours they are skipped and the file stays; older
// ones are skipped too, but reading goes on, and the file is deleted only
// when none of its lines is of any use.
TEST_F(JournalTest, ExpiredAndMalformedLines) {
  Configure(5);
  const std::int64_t h = 3600;
  auto line = [](std::int64_t t, const char* rest) { return std::to_string(t) + rest; };
  folder.Write("Cache/a.txt", line(kNow - 47 * h, ",0,10.0.0.1\r\n"));
  folder.Write("Cache/b.txt", line(kNow - 49 * h, ",0,10.0.0.2\r\n") + "\r\n123456789,0,10.0.0.3\r\n");
  folder.Write("Cache/c.txt", line(kNow - 49 * h, ",0,10.0.0.4\r\n") + "\r\n" +
                                  line(kNow + 7 * 24 * h, ",0,10.0.0.5\r\n"));
  folder.Write("Cache/notes.txt.old", line(kNow + 60, ",0,10.0.0.6\r\n"));
  folder.Write("Cache/other.log", line(kNow + 60, ",0,10.0.0.8\r\n"));
  EXPECT_TRUE(journal.LoadCacheFiles(table));
  EXPECT_TRUE(folder.Exists("Cache/a.txt"));
  EXPECT_FALSE(folder.Exists("Cache/b.txt"));
  EXPECT_TRUE(folder.Exists("Cache/c.txt"));  // the 7-day block after the old line survives
  EXPECT_EQ(table.Find((10u << 24) | 1), nullptr);
  EXPECT_EQ(table.Find((10u << 24) | 4), nullptr);
  ASSERT_NE(table.Find((10u << 24) | 5), nullptr);
  EXPECT_EQ(table.Find((10u << 24) | 5)->state.load(), ClientState::Blocked);
  ASSERT_NE(table.Find((10u << 24) | 6), nullptr);  // notes.txt.old is read as a day file
  EXPECT_EQ(table.Find((10u << 24) | 8), nullptr);
}

TEST_F(JournalTest, ExpiryBoundaries) {
  Configure(5);
  folder.Write("Cache/now.txt", std::to_string(kNow) + ",0,10.0.0.1\r\n");  // not below now
  folder.Write("Cache/edge.txt", std::to_string(kNow - 172800) + ",0,10.0.0.2\r\n");
  folder.Write("Cache/past.txt", std::to_string(kNow - 172801) + ",0,10.0.0.3\r\n");
  EXPECT_TRUE(journal.LoadCacheFiles(table));
  EXPECT_NE(table.Find((10u << 24) | 1), nullptr);
  EXPECT_TRUE(folder.Exists("Cache/edge.txt"));
  EXPECT_FALSE(folder.Exists("Cache/past.txt"));
}

// The time field is read as a signed number: a negative time has long passed
// (the file goes when nothing else in it is of use), and a time beyond 32 bits
// holds for the longest time a record can carry, never for a wrapped early one.
TEST_F(JournalTest, TimeFieldSignAndWidth) {
  struct Case {
    const char* file;
    const char* time;  // the first ten bytes
    bool restored;
    std::uint32_t holdUntil;
    bool fileKept;
  } cases[] = {
      {"neg.txt", "-123456789", false, 0, false},
      {"minus1.txt", "-000000001", false, 0, false},
      {"wide.txt", "9999999999", true, 0xFFFFFFFFu, true},
      {"max.txt", "4294967295", true, 0xFFFFFFFFu, true},
      {"future.txt", "1700000900", true, 1700000900u, true},
  };
  Configure(5);
  int host = 1;
  for (const auto& c : cases) {
    folder.Write(std::string("Cache/") + c.file, std::string(c.time) + ",0,10.0.9." + std::to_string(host++) + "\r\n");
  }
  EXPECT_TRUE(journal.LoadCacheFiles(table));
  host = 1;
  for (const auto& c : cases) {
    ClientTally* client = table.Find((10u << 24) | (9u << 8) | static_cast<std::uint32_t>(host++));
    EXPECT_EQ(client != nullptr, c.restored) << c.time;
    if (client != nullptr && c.restored) {
      EXPECT_EQ(client->state.load(), ClientState::Blocked) << c.time;
      EXPECT_EQ(client->holdUntil.load(), c.holdUntil) << c.time;
    }
    EXPECT_EQ(folder.Exists(std::string("Cache/") + c.file), c.fileKept) << c.time;
  }
}

TEST_F(JournalTest, MissingCacheFolder) {
  Configure(5);
  folder.Folder().Remove("site/Cache");
  EXPECT_FALSE(journal.LoadCacheFiles(table));
}

}  // namespace
}  // namespace sentrel
