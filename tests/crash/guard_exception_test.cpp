// The crash guard and C++ exceptions: an exception escaping from the guarded
// work leaves a dump and an ordinary return, with the work's locks released.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "filter/crash/crash_guard.h"
#include "platform/lock.h"
#include "tests/crash/faults.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/lock_probe.h"

namespace sentrel {
namespace {

using test::FreeForOthers;

struct NotAStandardException {
  int code;
};

class GuardExceptionTest : public ::testing::Test {
 protected:
  GuardExceptionTest() : clock(1299081907) { target.Configure(settings.Root() + "\\", clock); }

  std::string Dump() const { return settings.Read("Log/4.3.9.2_2011-3-2 16_5_7.dmp"); }
  bool DumpExists() const { return settings.Exists("Log/4.3.9.2_2011-3-2 16_5_7.dmp"); }

  test::SettingsFolder settings;
  test::OffsetClock clock;
  CrashDumpTarget target;
};

TEST_F(GuardExceptionTest, CompletedWorkWritesNothing) {
  bool inside = false;
  int result = 0;
  auto body = [&] {
    inside = InsideCrashGuard();
    result = 42;
  };
  EXPECT_FALSE(InsideCrashGuard());
  EXPECT_TRUE(RunGuarded(target, body));
  EXPECT_TRUE(inside);
  EXPECT_FALSE(InsideCrashGuard());
  EXPECT_EQ(result, 42);
  EXPECT_FALSE(DumpExists());
}

TEST_F(GuardExceptionTest, EscapingExceptionsAreDumpedWithTypeAndMessage) {
  struct Case {
    const char* name;
    std::function<void()> raise;
    std::string type;
    std::string message;  // empty: no message line
  };
  const Case cases[] = {
      {"runtime_error", [] { throw std::runtime_error("table full"); }, "std::runtime_error",
       "table full"},
      {"bad_alloc", [] { throw std::bad_alloc(); }, "std::bad_alloc", "std::bad_alloc"},
      {"int", [] { throw 7; }, "int", ""},
      {"own type", [] { throw NotAStandardException{3}; }, "sentrel::(anonymous namespace)::NotAStandardException",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool after = false;
    auto body = [&] {
      c.raise();
      after = true;
    };
    EXPECT_FALSE(RunGuarded(target, body));
    EXPECT_FALSE(after);
    EXPECT_FALSE(InsideCrashGuard());
    const std::string dump = Dump();
    EXPECT_NE(dump.find("\nFault: C++ exception " + c.type + "\n"), std::string::npos) << dump;
    if (c.message.empty()) {
      EXPECT_EQ(dump.find("\nMessage:"), std::string::npos) << dump;
    } else {
      EXPECT_NE(dump.find("\nMessage: " + c.message + "\n"), std::string::npos) << dump;
    }
    settings.Folder().Remove("site/Log/4.3.9.2_2011-3-2 16_5_7.dmp");
  }
}

TEST_F(GuardExceptionTest, LocksTakenByTheWorkAreReleased) {
  platform::CriticalSection heldBefore, scoped, bare1, bare2;
  heldBefore.Enter();
  auto body = [&] {
    platform::ScopedLock hold(scoped);  // left by unwinding
    bare1.Enter();                      // never left by the work itself
    bare2.Enter();
    throw std::logic_error("abandoned");
  };
  EXPECT_FALSE(RunGuarded(target, body));
  EXPECT_EQ(platform::HeldLockCount(), 1u);
  EXPECT_TRUE(FreeForOthers(scoped));
  EXPECT_TRUE(FreeForOthers(bare1));
  EXPECT_TRUE(FreeForOthers(bare2));
  // What was held before the guarded call stays held.
  EXPECT_FALSE(FreeForOthers(heldBefore));
  heldBefore.Leave();
}

TEST_F(GuardExceptionTest, NestedGuardsHandleTheirOwnExceptions) {
  bool outerFinished = false;
  bool innerResult = true;
  auto outer = [&] {
    auto inner = [] { throw std::runtime_error("inner"); };
    innerResult = RunGuarded(target, inner);
    EXPECT_TRUE(InsideCrashGuard());
    outerFinished = true;
  };
  EXPECT_TRUE(RunGuarded(target, outer));
  EXPECT_FALSE(innerResult);
  EXPECT_TRUE(outerFinished);
  EXPECT_FALSE(InsideCrashGuard());
  EXPECT_NE(Dump().find("Message: inner\n"), std::string::npos);
}

TEST_F(GuardExceptionTest, AnUnconfiguredTargetStillRecovers) {
  CrashDumpTarget none;
  auto body = [] { throw std::runtime_error("nowhere to write"); };
  EXPECT_FALSE(RunGuarded(none, body));
  EXPECT_FALSE(DumpExists());
}

TEST_F(GuardExceptionTest, ThreadsAreGuardedIndependently) {
  // One thread's exception does not disturb another thread's guarded work.
  std::atomic<int> completed{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int n = 0; n < 50; ++n) {
        auto body = [&] {
          if ((n + i) % 5 == 0) throw std::runtime_error("every fifth");
        };
        (RunGuarded(target, body) ? completed : failed)++;
        EXPECT_FALSE(InsideCrashGuard());
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(completed.load(), 160);
  EXPECT_EQ(failed.load(), 40);
}

}  // namespace
}  // namespace sentrel
