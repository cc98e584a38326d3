// The activity log: buffering by name, block writes, immediate lines, file
// names by date, CR LF on disk, and the flush at unload.
#include <gtest/gtest.h>

#include "filter/logging/activity_log.h"
#include "filter/settings/filter_settings.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

class ActivityLogTest : public ::testing::Test {
 protected:
  test::SettingsFolder folder;
  platform::FakeClock clock{1700000000};  // 2023-11-14 22:13:20 UTC
  ActivityLog log{clock};
  void SetUp() override { log.Configure(NormalizeFolderPath(folder.Root()), 3); }
};

TEST_F(ActivityLogTest, PlainLinesAreWrittenInBlocksOfLogMin) {
  EXPECT_FALSE(log.WriteLog("Bots", "one", "", LogMode::Plain));
  EXPECT_FALSE(log.WriteLog("Bots", "two", "", LogMode::Plain));
  EXPECT_FALSE(folder.Exists("Log/Bots_2023-11-14.log"));
  EXPECT_TRUE(log.WriteLog("Bots", "three", "", LogMode::Plain));
  EXPECT_EQ(folder.Read("Log/Bots_2023-11-14.log"), "one\r\ntwo\r\nthree\r\n");
  EXPECT_FALSE(log.WriteLog("Bots", "four", "", LogMode::Plain));
  EXPECT_EQ(folder.Read("Log/Bots_2023-11-14.log"), "one\r\ntwo\r\nthree\r\n");
}

TEST_F(ActivityLogTest, CollectionIsKeyedByNameAlone) {
  log.WriteLog("Shared", "a", "first.txt", LogMode::Plain);
  log.WriteLog("Other", "x", "", LogMode::Plain);
  log.WriteLog("Shared", "b", "second.txt", LogMode::Plain);
  log.WriteLog("Shared", "c", "third.txt", LogMode::Plain);
  EXPECT_FALSE(folder.Exists("Log/first.txt"));
  EXPECT_EQ(folder.Read("Log/third.txt"), "a\r\nb\r\nc\r\n");
  EXPECT_FALSE(folder.Exists("Log/Other_2023-11-14.log"));
}

TEST_F(ActivityLogTest, StampedAndImmediateLinesCarryTheTime) {
  EXPECT_TRUE(log.WriteLog("Log", "now", "", LogMode::Immediate));
  EXPECT_EQ(folder.Read("Log/Log_2023-11-14.log"), "22:13:20\tnow\r\n");
  log.WriteLog("Log", "No SV2", "", LogMode::Stamped);
  clock.Advance(1);
  log.WriteLog("Log", "later", "", LogMode::Immediate);
  // The immediate line does not touch the collected Stamped line.
  EXPECT_EQ(folder.Read("Log/Log_2023-11-14.log"), "22:13:20\tnow\r\n22:13:21\tlater\r\n");
}

TEST_F(ActivityLogTest, MultiLineTextsBecomeCrLfOnDisk) {
  log.WriteLog("Multi", "line1\nline2", "multi.log", LogMode::Immediate);
  EXPECT_EQ(folder.Read("Log/multi.log"), "22:13:20\tline1\r\nline2\r\n");
}

TEST_F(ActivityLogTest, EmptyNameOrTextWritesNothing) {
  EXPECT_FALSE(log.WriteLog("", "text", "", LogMode::Immediate));
  EXPECT_FALSE(log.WriteLog("Name", "", "", LogMode::Immediate));
  EXPECT_TRUE(folder.List("Log").empty());
}

TEST_F(ActivityLogTest, BlocksGoToTheDateOfTheFlush) {
  log.WriteLog("Day", "a", "", LogMode::Plain);
  log.WriteLog("Day", "b", "", LogMode::Plain);
  clock.Advance(2 * 3600);  // past midnight
  log.WriteLog("Day", "c", "", LogMode::Plain);
  EXPECT_FALSE(folder.Exists("Log/Day_2023-11-14.log"));
  EXPECT_EQ(folder.Read("Log/Day_2023-11-15.log"), "a\r\nb\r\nc\r\n");
}

TEST_F(ActivityLogTest, MissingLogFolderLosesTextSilently) {
  folder.Folder().Remove("site/Log");
  log.WriteLog("Gone", "a", "", LogMode::Plain);
  log.WriteLog("Gone", "b", "", LogMode::Plain);
  EXPECT_TRUE(log.WriteLog("Gone", "c", "", LogMode::Plain));
  EXPECT_TRUE(log.WriteLog("Log", "msg", "", LogMode::Immediate));
  folder.Folder().MakeFolder("site/Log");
  log.FlushAll();  // the failed block was discarded
  EXPECT_TRUE(folder.List("Log").empty());
  // The block counts each of its lines as lost, the message one more.
  EXPECT_EQ(log.ReadCounts().linesLost, 4u);
  EXPECT_EQ(log.ReadCounts().linesWritten, 0u);
}

TEST_F(ActivityLogTest, FlushAllWritesPendingTextToTheLatestFile) {
  log.WriteLog("Steps", "a", "old.txt", LogMode::Plain);
  log.WriteLog("Steps", "b", "new.txt", LogMode::Plain);
  log.WriteLog("Log", "No SV2", "", LogMode::Stamped);
  log.FlushAll();
  EXPECT_EQ(folder.Read("Log/new.txt"), "a\r\nb\r\n");
  EXPECT_FALSE(folder.Exists("Log/old.txt"));
  EXPECT_EQ(folder.Read("Log/Log_2023-11-14.log"), "22:13:20\tNo SV2\r\n");
  log.FlushAll();  // nothing pending: nothing written twice
  EXPECT_EQ(folder.Read("Log/new.txt"), "a\r\nb\r\n");
  EXPECT_EQ(log.ReadCounts().linesWritten, 3u);
  EXPECT_EQ(log.ReadCounts().linesLost, 0u);
}

TEST(ActivityLogBlockSize, LogMinOneWritesEveryLine) {
  test::SettingsFolder folder;
  platform::FakeClock clock{1700000000};
  ActivityLog log{clock};
  log.Configure(NormalizeFolderPath(folder.Root()), 1);
  EXPECT_TRUE(log.WriteLog("One", "a", "", LogMode::Plain));
  EXPECT_TRUE(log.WriteLog("One", "b", "", LogMode::Stamped));
  EXPECT_EQ(folder.Read("Log/One_2023-11-14.log"), "a\r\n22:13:20\tb\r\n");
}

}  // namespace
}  // namespace sentrel

namespace sentrel {
namespace {

// Step and module lines through the filter with the default block size of 30:
// a module with a LogFileName writes to exactly that file, every day the same
// one; a step without one writes to its LogName, the date and ".log".
TEST(ActivityLogThroughTheFilter, DefaultBlocksOfThirtyAndFileNames) {
  test::SettingsFolder folder;
  test::ModuleText m;
  m.execute = "1";  // log only: the client stays Normal and the module re-arms
  m.logName = "Seen";
  m.logFileName = "seen.txt";
  m.logContent = "{S(REMOTE_ADDR)} {S(URL)}";
  m.steps.push_back({"1", "Step", "", "at {time}", {{"HTTP_USER_AGENT", "1", "bot"}}});
  folder.AddModule("seen.ini", m);
  test::FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  f.CompleteStartup();
  ASSERT_FALSE(f.filter.StartupPending());
  EXPECT_EQ(f.filter.Settings().LogMin, 30u);

  const std::string stepFile = "Log/Step_" + f.clock.FormatNow("%Y-%m-%d") + ".log";
  const std::string time = f.clock.FormatNow("%H:%M:%S");
  std::string seen;
  for (int i = 1; i <= 29; ++i) {
    f.Request("10.0.0.7", {{"HTTP_USER_AGENT", "bot"}, {"URL", "/p" + std::to_string(i)}});
    seen += "10.0.0.7 /p" + std::to_string(i) + "\r\n";
  }
  EXPECT_FALSE(folder.Exists("Log/seen.txt"));
  EXPECT_FALSE(folder.Exists(stepFile));
  f.Request("10.0.0.7", {{"HTTP_USER_AGENT", "bot"}, {"URL", "/p30"}});
  seen += "10.0.0.7 /p30\r\n";
  EXPECT_EQ(folder.Read("Log/seen.txt"), seen);
  std::string steps;
  for (int i = 0; i < 30; ++i) steps += "AT " + time + "\r\n";
  EXPECT_EQ(folder.Read(stepFile), steps);

  // A day later the module's file is the same one; the count started again.
  f.clock.Advance(86400);
  for (int i = 1; i <= 30; ++i) f.Request("10.0.0.7", {{"HTTP_USER_AGENT", "bot"}, {"URL", "/q"}});
  std::string more;
  for (int i = 0; i < 30; ++i) more += "10.0.0.7 /q\r\n";
  EXPECT_EQ(folder.Read("Log/seen.txt"), seen + more);
  EXPECT_TRUE(folder.Exists("Log/Step_" + f.clock.FormatNow("%Y-%m-%d") + ".log"));
}

}  // namespace
}  // namespace sentrel
