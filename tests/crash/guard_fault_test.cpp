// Processor faults inside the crash guard: each kind is turned into a dump and
// an ordinary return, on any thread, as often as it happens, with the locks of
// the abandoned work released.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "filter/crash/crash_guard.h"
#include "platform/lock.h"
#include "tests/crash/faults.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/lock_probe.h"

namespace sentrel {
namespace {

using test::FreeForOthers;

constexpr char kDump[] = "Log/4.3.9.2_2011-3-2 16_5_7.dmp";

class GuardFaultTest : public ::testing::TestWithParam<test::FaultCase> {
 protected:
  GuardFaultTest() : clock(1299081907) { target.Configure(settings.Root() + "\\", clock); }

  std::vector<std::string> Dumps() const {
    std::vector<std::string> dumps;
    for (const auto& name : settings.List("Log")) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dmp") == 0) dumps.push_back(name);
    }
    return dumps;
  }

  test::SettingsFolder settings;
  test::OffsetClock clock;
  CrashDumpTarget target;
};

TEST_P(GuardFaultTest, FaultIsDumpedAndTheCallReturns) {
  const test::FaultCase& fault = GetParam();
  if (!test::FaultSupported(fault.kind)) GTEST_SKIP() << "not raised on this processor";
  // Twice on the same thread: the handlers and the alternate stack serve again.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    bool after = false;
    auto body = [&] {
      test::RaiseFault(fault.kind);
      after = true;
    };
    EXPECT_FALSE(RunGuarded(target, body));
    EXPECT_FALSE(after);
    EXPECT_FALSE(InsideCrashGuard());
    ASSERT_EQ(Dumps(), std::vector<std::string>{"4.3.9.2_2011-3-2 16_5_7.dmp"});
    const std::string dump = settings.Read(kDump);
    EXPECT_EQ(dump.rfind("Sentrel crash dump, version 4.3.9.2\n", 0), 0u);
    char line[128];
    std::snprintf(line, sizeof(line), ", signal %d\nCode: ", fault.signal);
    EXPECT_NE(dump.find(line), std::string::npos) << dump;
    EXPECT_NE(dump.find(fault.code), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nThread: " + std::to_string(gettid()) + "\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nInstruction pointer: 0x"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nStack of the faulting thread:\n"), std::string::npos) << dump;
    if (fault.kind == test::FaultKind::InvalidAccess) {
      char address[64];
      std::snprintf(address, sizeof(address), "\nAddress: 0x%016llx\n",
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(test::InaccessibleAddress())));
      EXPECT_NE(dump.find(address), std::string::npos) << dump;
    }
    settings.Folder().Remove(std::string("site/") + kDump);
  }
  // And ordinary work goes on.
  int value = 0;
  auto ordinary = [&] { value = 1; };
  EXPECT_TRUE(RunGuarded(target, ordinary));
  EXPECT_EQ(value, 1);
}

TEST_P(GuardFaultTest, LocksHeldAtTheFaultAreReleased) {
  const test::FaultCase& fault = GetParam();
  if (!test::FaultSupported(fault.kind)) GTEST_SKIP() << "not raised on this processor";
  platform::CriticalSection heldBefore, client, log;
  heldBefore.Enter();
  auto body = [&] {
    platform::ScopedLock holdClient(client);
    platform::ScopedLock holdLog(log);
    test::RaiseFault(fault.kind);
  };
  EXPECT_FALSE(RunGuarded(target, body));
  EXPECT_EQ(platform::HeldLockCount(), 1u);
  EXPECT_TRUE(FreeForOthers(client));
  EXPECT_TRUE(FreeForOthers(log));
  EXPECT_FALSE(FreeForOthers(heldBefore));
  heldBefore.Leave();
  // The same thread takes the locks again without waiting on itself.
  auto again = [&] {
    platform::ScopedLock holdClient(client);
    platform::ScopedLock holdLog(log);
  };
  EXPECT_TRUE(RunGuarded(target, again));
}

INSTANTIATE_TEST_SUITE_P(Kinds, GuardFaultTest, ::testing::ValuesIn([] {
                           std::size_t count = 0;
                           const test::FaultCase* cases = test::FaultCases(count);
                           return std::vector<test::FaultCase>(cases, cases + count);
                         }()),
                         [](const ::testing::TestParamInfo<test::FaultCase>& info) { return std::string(info.param.name); });

class GuardFaultOnThreads : public ::testing::Test {};

TEST_F(GuardFaultOnThreads, EachThreadWritesItsOwnDump) {
  constexpr int kThreads = 4;
  std::vector<std::unique_ptr<test::SettingsFolder>> folders;
  std::vector<std::unique_ptr<test::OffsetClock>> clocks;
  std::vector<std::unique_ptr<CrashDumpTarget>> targets;
  for (int i = 0; i < kThreads; ++i) {
    folders.push_back(std::make_unique<test::SettingsFolder>());
    clocks.push_back(std::make_unique<test::OffsetClock>(1299081907 + i));
    targets.push_back(std::make_unique<CrashDumpTarget>());
    targets.back()->Configure(folders.back()->Root() + "\\", *clocks.back());
  }
  std::vector<long> threadIds(kThreads);
  std::vector<int> results(kThreads, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      threadIds[i] = static_cast<long>(gettid());
      auto body = [] { test::RaiseFault(test::FaultKind::StackOverflow); };
      results[i] = RunGuarded(*targets[i], body) ? 1 : 0;
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[i], 0);
    const std::string name = "Log/4.3.9.2_2011-3-2 16_5_" + std::to_string(7 + i) + ".dmp";
    const std::string dump = folders[i]->Read(name);
    EXPECT_NE(dump.find("\nThread: " + std::to_string(threadIds[i]) + "\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SIGSEGV"), std::string::npos) << dump;
  }
}

TEST_F(GuardFaultOnThreads, AFaultWhileWritingTheDumpAbandonsTheDump) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer runs signal handlers with every signal blocked, so a second "
                  "fault inside the handler ends the process there";
#endif
  test::SettingsFolder settings;
  test::FaultingClock clock(1299081907);
  CrashDumpTarget target;
  target.Configure(settings.Root() + "\\", clock);
  // The dump writer reads the clock first; that read faults too.
  clock.Arm(test::FaultingClock::Call::Now);
  auto body = [] { test::RaiseFault(test::FaultKind::InvalidAccess); };
  EXPECT_FALSE(RunGuarded(target, body));
  EXPECT_FALSE(clock.Armed());
  EXPECT_EQ(settings.List("Log"), std::vector<std::string>{});
  EXPECT_FALSE(InsideCrashGuard());
  // The next fault is dumped as usual.
  EXPECT_FALSE(RunGuarded(target, body));
  EXPECT_TRUE(settings.Exists(kDump));
}

TEST_F(GuardFaultOnThreads, NoLogFolderNoDump) {
  test::SettingsFolder settings;
  settings.Folder().Remove("site/Log");
  test::OffsetClock clock(1299081907);
  CrashDumpTarget target;
  target.Configure(settings.Root() + "\\", clock);
  auto body = [] { test::RaiseFault(test::FaultKind::InvalidAccess); };
  EXPECT_FALSE(RunGuarded(target, body));
  EXPECT_FALSE(settings.Exists("Log"));
}

}  // namespace
}  // namespace sentrel
