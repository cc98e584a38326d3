// The crash guard of the Windows build: a processor fault or a C++ exception
// escaping from the guarded work leaves a minidump named after the fault's
// time and an ordinary return, with the work's critical sections left; through
// the filter, the request is passed on and the next ones are served.
// (Writing a minidump under Wine takes seconds, so few tests write one.)
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "filter/core/filter.h"
#include "filter/crash/crash_guard.h"
#include "hosts/testhost/test_host.h"
#include "platform/lock.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/lock_probe.h"

namespace sentrel {
namespace {

volatile int* volatile gNowhere = nullptr;

void Fault() { *gNowhere = 1; }

using test::FreeForOthers;

// 16:05:07 on 2 March 2011, UTC (the fake clock's local time).
constexpr std::int64_t kFaultTime = 1299081907;
constexpr char kDumpName[] = "Log/4.3.9.2_2011-3-2 16_5_7.dmp";

class Win32GuardTest : public ::testing::Test {
 protected:
  Win32GuardTest() : clock(kFaultTime) { target.Configure(settings.Root() + "\\", clock); }

  test::SettingsFolder settings;
  platform::FakeClock clock;
  CrashDumpTarget target;
};

TEST_F(Win32GuardTest, ProcessorFaultLeavesAMinidumpNamedByItsTime) {
  bool inside = false;
  auto body = [&] {
    inside = InsideCrashGuard();
    Fault();
  };
  EXPECT_FALSE(RunGuarded(target, body));
  EXPECT_TRUE(inside);
  EXPECT_FALSE(InsideCrashGuard());
  const std::string dump = settings.Read(kDumpName);
  ASSERT_GT(dump.size(), 1000u);
  EXPECT_EQ(dump.substr(0, 4), "MDMP");
}

TEST_F(Win32GuardTest, CppExceptionLeavesAMinidumpToo) {
  auto body = [] { throw std::runtime_error("escaped"); };
  EXPECT_FALSE(RunGuarded(target, body));
  EXPECT_EQ(settings.Read(kDumpName).substr(0, 4), "MDMP");
}

TEST_F(Win32GuardTest, LocksHeldAtTheFaultAreLeft) {
  settings.Folder().Remove("site/Log");  // no dump: this test is about the locks
  platform::CriticalSection before, inner, outer;
  before.Enter();
  auto body = [&] {
    outer.Enter();
    inner.Enter();
    Fault();
  };
  EXPECT_FALSE(RunGuarded(target, body));
  EXPECT_EQ(platform::HeldLockCount(), 1u);  // only the one taken before the guard
  EXPECT_TRUE(FreeForOthers(inner));
  EXPECT_TRUE(FreeForOthers(outer));
  EXPECT_FALSE(FreeForOthers(before));
  before.Leave();
  EXPECT_FALSE(settings.Exists("Log"));
  // The thread is guarded again at once.
  int value = 0;
  auto fine = [&] { value = 7; };
  EXPECT_TRUE(RunGuarded(target, fine));
  EXPECT_EQ(value, 7);
}

TEST_F(Win32GuardTest, FaultOutsideTheWorkOfAnInnerGuardIsTheOuterOnes) {
  settings.Folder().Remove("site/Log");
  bool innerResult = true;
  auto fault = [] { Fault(); };
  auto inner = [&] { innerResult = RunGuarded(target, fault); };
  auto outer = [&] {
    inner();
    Fault();
  };
  EXPECT_FALSE(RunGuarded(target, outer));
  EXPECT_FALSE(innerResult);
}

// Through the filter: a server callback that faults during a request.
TEST(Win32FilterGuard, FaultingRequestIsPassedOnAndTheNextServed) {
  test::SettingsFolder folder;
  folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\nCacheMin=1\r\n");
  test::ModuleText bot = test::AgentModule("Bot", "0", "2");
  folder.AddModule("bot.ini", bot);
  folder.Folder().Remove("site/Log");  // the dump itself is tested above
  test::FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  f.CompleteStartup();
  ASSERT_FALSE(f.filter.StartupPending());

  testhost::TestRequest faulting({{"REMOTE_ADDR", "10.0.0.7"}, {"HTTP_USER_AGENT", "EvilBot"}});
  faulting.onGetServerVariable = [](const std::string& name) {
    if (name == "HTTP_USER_AGENT") Fault();
  };
  EXPECT_EQ(f.host.Request(faulting), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(platform::HeldLockCount(), 0u);
  // The client's lock was left: its next requests are evaluated.
  EXPECT_EQ(f.Request("10.0.0.7", {{"HTTP_USER_AGENT", "EvilBot"}}), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(f.Request("10.0.0.7", {{"HTTP_USER_AGENT", "EvilBot"}}), SF_STATUS_REQ_FINISHED);
}

}  // namespace
}  // namespace sentrel
