#include <gtest/gtest.h>

#include <memory>

#include "platform/clock.h"

namespace sentrel::platform {
namespace {

TEST(Clock, FakeClockStandsStillUntilMoved) {
  FakeClock clock(1700000000);
  EXPECT_EQ(clock.Now(), 1700000000);
  EXPECT_EQ(clock.Now(), 1700000000);
  clock.Advance(3);
  EXPECT_EQ(clock.Now(), 1700000003);
  clock.Set(86400);
  EXPECT_EQ(clock.Now(), 86400);
}

TEST(Clock, FakeSleepAdvancesVirtualTime) {
  FakeClock clock(1000);
  clock.SleepMs(999);
  EXPECT_EQ(clock.Now(), 1000);  // not yet a whole second
  clock.SleepMs(1);
  EXPECT_EQ(clock.Now(), 1001);
  clock.SleepMs(2500);
  EXPECT_EQ(clock.Now(), 1003);
  EXPECT_EQ(clock.SleptMs(), 3500u);
}

TEST(Clock, FakeLocalTimeIsUtc) {
  FakeClock clock(0);
  // 2023-11-14 22:13:20 UTC
  const std::tm tm = clock.LocalTime(1700000000);
  EXPECT_EQ(tm.tm_year, 123);
  EXPECT_EQ(tm.tm_mon, 10);
  EXPECT_EQ(tm.tm_mday, 14);
  EXPECT_EQ(tm.tm_hour, 22);
  EXPECT_EQ(tm.tm_min, 13);
  EXPECT_EQ(tm.tm_sec, 20);
  EXPECT_EQ(FormatTime(tm, "%Y-%m-%d"), "2023-11-14");
  EXPECT_EQ(FormatTime(tm, "%H:%M:%S"), "22:13:20");
}

TEST(Clock, FormatNowUsesTheClock) {
  FakeClock clock(1700000000);
  EXPECT_EQ(clock.FormatNow("%Y-%m-%d %H:%M:%S"), "2023-11-14 22:13:20");
  clock.Advance(3600 * 2);  // past midnight
  EXPECT_EQ(clock.FormatNow("%Y-%m-%d"), "2023-11-15");
  Clock& base = clock;  // through the interface
  EXPECT_EQ(base.FormatNow("%H"), "00");
}

TEST(Clock, FormatTimeEdges) {
  const std::tm tm = FakeClock().LocalTime(0);
  EXPECT_EQ(FormatTime(tm, ""), "");
  EXPECT_EQ(FormatTime(tm, nullptr), "");
  EXPECT_EQ(FormatTime(tm, "%p"), "AM");
  // A result longer than the first buffer.
  std::string pattern;
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    pattern += "%Y-%m-%d ";
    expected += "1970-01-01 ";
  }
  EXPECT_EQ(FormatTime(tm, pattern.c_str()), expected);
}

TEST(Clock, SystemClockAgreesWithTheSystem) {
  SystemClock clock;
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t now = clock.Now();
  const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
  std::tm expected{};
  const std::time_t t = static_cast<std::time_t>(now);
#if defined(_WIN32)
  const std::tm* local = std::localtime(&t);  // per-thread result in the Windows runtime
  ASSERT_NE(local, nullptr);
  expected = *local;
#else
  ASSERT_NE(localtime_r(&t, &expected), nullptr);
#endif
  const std::tm got = clock.LocalTime(now);
  EXPECT_EQ(FormatTime(got, "%Y-%m-%d %H:%M:%S"), FormatTime(expected, "%Y-%m-%d %H:%M:%S"));
  clock.SleepMs(0);  // returns at once
}

}  // namespace
}  // namespace sentrel::platform
