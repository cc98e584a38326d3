// Dump names, calendar arithmetic, the dump target and the dump writer (with
// the record of a C++ exception; processor faults are in the fault tests).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "filter/crash/crash_dump.h"
#include "filter/crash/signal_safe_text.h"
#include "tests/crash/faults.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

std::string Printf(const char* format, long long value) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), format, value);
  return buffer;
}

TEST(SignalSafeText, DecimalMatchesPrintf) {
  struct Case {
    long long value;
    int width;
    char pad;
    const char* format;
  };
  const Case cases[] = {
      {0, 0, ' ', "%lld"},         {7, 0, ' ', "%lld"},       {-7, 0, ' ', "%lld"},
      {2011, 4, ' ', "%4lld"},     {999, 4, ' ', "%4lld"},    {5, 4, ' ', "%4lld"},
      {-5, 4, ' ', "%4lld"},       {12345, 4, ' ', "%4lld"},  {5, 2, '0', "%02lld"},
      {-5, 3, '0', "%03lld"},      {59, 2, '0', "%02lld"},    {INT64_MAX, 0, ' ', "%lld"},
      {INT64_MIN, 0, ' ', "%lld"}, {INT64_MIN, 25, ' ', "%25lld"},
  };
  for (const Case& c : cases) {
    char out[64];
    SignalSafeText text(out, sizeof(out));
    text.Decimal(c.value, c.width, c.pad);
    EXPECT_EQ(std::string(text.Data()), Printf(c.format, c.value)) << c.value << " " << c.format;
  }
}

TEST(SignalSafeText, HexAndOverflow) {
  char out[32];
  SignalSafeText text(out, sizeof(out));
  text.Hex(0x1f, 4).Char(' ').Hex(0).Char(' ').Hex(0xFFFFFFFFFFFFFFFFull, 16);
  EXPECT_STREQ(out, "0x001f 0x0 0xffffffffffffffff");
  EXPECT_FALSE(text.Overflowed());

  char small[6];
  SignalSafeText cut(small, sizeof(small));
  cut.Append("abcdefgh");
  EXPECT_TRUE(cut.Overflowed());
  EXPECT_STREQ(small, "abcde");
}

TEST(CivilTime, AgreesWithTheCRuntime) {
  // Day boundaries, leap days, century years, the 2038 boundary, times before
  // 1970, and a sweep with an odd stride through three centuries.
  std::vector<std::int64_t> times = {0,          -1,         86399,      86400,       951782400,
                                     951868799,  4107542400, 2147483647, 2147483648,  -2208988800,
                                     1299081907, 1700000000, 253402300799};
  for (std::int64_t t = -2208988800; t < 7258118400; t += 86400 * 13 + 3607) times.push_back(t);
  for (std::int64_t t : times) {
    const std::time_t value = static_cast<std::time_t>(t);
    std::tm expected{};
    ASSERT_NE(gmtime_r(&value, &expected), nullptr);
    const CivilTime got = CivilFromSeconds(t);
    ASSERT_EQ(got.year, expected.tm_year + 1900) << t;
    ASSERT_EQ(got.month, expected.tm_mon + 1) << t;
    ASSERT_EQ(got.day, expected.tm_mday) << t;
    ASSERT_EQ(got.hour, expected.tm_hour) << t;
    ASSERT_EQ(got.minute, expected.tm_min) << t;
    ASSERT_EQ(got.second, expected.tm_sec) << t;
    ASSERT_EQ(SecondsFromCivil(got), t);
  }
}

TEST(DumpName, FollowsTheNameFormat) {
  struct Case {
    CivilTime time;
    const char* expected;
  };
  const Case cases[] = {
      {{2011, 3, 2, 16, 5, 7}, "4.3.9.2_2011-3-2 16_5_7"},
      {{2023, 11, 14, 22, 13, 20}, "4.3.9.2_2023-11-14 22_13_20"},
      {{2000, 1, 1, 0, 0, 0}, "4.3.9.2_2000-1-1 0_0_0"},
      {{999, 12, 31, 23, 59, 59}, "4.3.9.2_ 999-12-31 23_59_59"},
      {{12345, 6, 7, 8, 9, 10}, "4.3.9.2_12345-6-7 8_9_10"},
  };
  for (const Case& c : cases) {
    char name[64];
    const std::size_t length = FormatDumpName(c.time, name, sizeof(name));
    EXPECT_STREQ(name, c.expected);
    EXPECT_EQ(length, std::strlen(c.expected));
    // The same as the C runtime formats it.
    char printed[64];
    std::snprintf(printed, sizeof(printed), "%s_%4d-%d-%d %d_%d_%d", kCrashDumpVersion, c.time.year,
                  c.time.month, c.time.day, c.time.hour, c.time.minute, c.time.second);
    EXPECT_STREQ(name, printed);
  }
  char tooSmall[10];
  EXPECT_EQ(FormatDumpName(cases[0].time, tooSmall, sizeof(tooSmall)), 0u);
  EXPECT_STREQ(tooSmall, "");
}

class DumpTargetTest : public ::testing::Test {
 protected:
  std::string Folder() const { return settings.Root() + "\\"; }
  std::string DumpFile(const CrashDumpTarget& target) const {
    char path[CrashDumpTarget::kPathCapacity];
    target.DumpPath(target.LocalTime(target.Now()), path, sizeof(path));
    return path;
  }
  std::vector<std::string> Dumps() const {
    std::vector<std::string> dumps;
    for (const auto& name : settings.List("Log")) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dmp") == 0) dumps.push_back(name);
    }
    return dumps;
  }
  static FaultInfo ExceptionFault(const char* type, const char* text) {
    FaultInfo fault;
    fault.exceptionType = type;
    fault.exceptionText = text;
    return fault;
  }

  test::SettingsFolder settings;
};

TEST_F(DumpTargetTest, PathIsTheLogFolderTheNameAndDmp) {
  test::OffsetClock clock(1299081907);  // 2011-03-02 16:05:07 UTC
  CrashDumpTarget target;
  EXPECT_FALSE(target.Configured());
  target.Configure(Folder(), clock);
  ASSERT_TRUE(target.Configured());
  EXPECT_EQ(DumpFile(target), settings.Root() + "/Log/4.3.9.2_2011-3-2 16_5_7.dmp");
}

TEST_F(DumpTargetTest, NamesUseLocalTimeAndFollowOffsetChanges) {
  test::OffsetClock clock(1299081907, 8 * 3600);
  CrashDumpTarget target;
  target.Configure(Folder(), clock);
  EXPECT_EQ(target.UtcOffset(), 8 * 3600);
  EXPECT_EQ(DumpFile(target), settings.Root() + "/Log/4.3.9.2_2011-3-3 0_5_7.dmp");

  // A changed offset is noticed within ten minutes of clock time.
  clock.SetOffset(-(4 * 3600 + 1800));
  clock.Advance(599);
  target.KeepLocalTimeCurrent();
  EXPECT_EQ(target.UtcOffset(), 8 * 3600);
  clock.Advance(1);
  target.KeepLocalTimeCurrent();
  EXPECT_EQ(target.UtcOffset(), -(4 * 3600 + 1800));
  EXPECT_EQ(DumpFile(target), settings.Root() + "/Log/4.3.9.2_2011-3-2 11_45_7.dmp");
}

TEST_F(DumpTargetTest, AFolderTooLongForThePathLeavesDumpsOff) {
  test::OffsetClock clock(1299081907);
  CrashDumpTarget target;
  target.Configure("\\" + std::string(CrashDumpTarget::kPathCapacity, 'x') + "\\", clock);
  EXPECT_FALSE(target.Configured());
  EXPECT_EQ(WriteCrashDump(target, ExceptionFault("E", "m")), kExecuteHandler);
}

TEST_F(DumpTargetTest, WritesTheRecordOfAnException) {
  test::OffsetClock clock(1299081907, 3600);
  CrashDumpTarget target;
  target.Configure(Folder(), clock);
  EXPECT_EQ(WriteCrashDump(target, ExceptionFault("std::runtime_error", "no more room")), kExecuteHandler);
  ASSERT_EQ(Dumps(), std::vector<std::string>{"4.3.9.2_2011-3-2 17_5_7.dmp"});
  const std::string record = settings.Read("Log/4.3.9.2_2011-3-2 17_5_7.dmp");
  EXPECT_EQ(record.rfind("Sentrel crash dump, version 4.3.9.2\n", 0), 0u) << record;
  EXPECT_NE(record.find("\nTime: 2011-03-02 17:05:07 local time (UTC+01:00), 1299081907 seconds since 1970\n"),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("\nProcess: " + std::to_string(getpid()) + "\n"), std::string::npos);
  EXPECT_NE(record.find("\nThread: " + std::to_string(gettid()) + "\n"), std::string::npos);
  EXPECT_NE(record.find("\nFault: C++ exception std::runtime_error\nMessage: no more room\n"),
            std::string::npos)
      << record;
  // The stack trace follows its heading.
  const std::size_t stack = record.find("Stack of the thread where the exception was caught:\n");
  ASSERT_NE(stack, std::string::npos);
  EXPECT_GT(record.size(), stack + 60);
}

TEST_F(DumpTargetTest, NothingIsWrittenWithoutALogFolder) {
  settings.Folder().Remove("site/Log");
  test::OffsetClock clock(1299081907);
  CrashDumpTarget target;
  target.Configure(Folder(), clock);
  EXPECT_EQ(WriteCrashDump(target, ExceptionFault("E", nullptr)), kExecuteHandler);
  EXPECT_FALSE(settings.Exists("Log"));
}

TEST_F(DumpTargetTest, AnExistingDumpOfTheSameNameIsReplaced) {
  test::OffsetClock clock(1299081907);
  CrashDumpTarget target;
  target.Configure(Folder(), clock);
  const std::string old(100000, 'o');
  settings.Write("Log/4.3.9.2_2011-3-2 16_5_7.dmp", old);
  WriteCrashDump(target, ExceptionFault("Second", "the later fault"));
  const std::string record = settings.Read("Log/4.3.9.2_2011-3-2 16_5_7.dmp");
  EXPECT_EQ(record.rfind("Sentrel crash dump", 0), 0u);
  EXPECT_NE(record.find("Fault: C++ exception Second\n"), std::string::npos);
  EXPECT_EQ(record.find("ooo"), std::string::npos);
  EXPECT_LT(record.size(), old.size());
}

TEST_F(DumpTargetTest, ADumpAnotherWriterHoldsOpenIsLeftAlone) {
  test::OffsetClock clock(1299081907);
  CrashDumpTarget target;
  target.Configure(Folder(), clock);
  settings.Write("Log/4.3.9.2_2011-3-2 16_5_7.dmp", "being written");
  const std::string path = DumpFile(target);
  const int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  WriteCrashDump(target, ExceptionFault("Second", "same second"));
  EXPECT_EQ(settings.Read("Log/4.3.9.2_2011-3-2 16_5_7.dmp"), "being written");
  close(fd);
  // Once the other writer is done, the next dump gets the file.
  WriteCrashDump(target, ExceptionFault("Third", "later"));
  EXPECT_NE(settings.Read("Log/4.3.9.2_2011-3-2 16_5_7.dmp").find("Third"), std::string::npos);
}

}  // namespace
}  // namespace sentrel
