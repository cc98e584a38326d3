// Faults the guard must not swallow: outside the guard, on a thread that is
// not inside it, or sent by a process. They reach the handler that was there
// before, or end the process as they would without the filter.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "filter/crash/crash_guard.h"
#include "tests/crash/faults.h"

namespace sentrel {
namespace {

// Each death test runs in a freshly started copy of the test program, so the
// handlers in place before the guard's are the ones the test installs.
class GuardDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  // Dumps off: the dying copies leave no files behind.
  CrashDumpTarget target;
};

TEST_F(GuardDeathTest, FaultsOutsideTheGuardEndTheProcess) {
  std::size_t count = 0;
  const test::FaultCase* cases = test::FaultCases(count);
  for (std::size_t i = 0; i < count; ++i) {
    const test::FaultCase& fault = cases[i];
    if (!test::FaultSupported(fault.kind)) continue;
    SCOPED_TRACE(fault.name);
    EXPECT_EXIT(
        {
          // The thread has been inside the guard before, so it has the
          // guard's alternate stack and the handlers are installed.
          auto ordinary = [] {};
          RunGuarded(target, ordinary);
          test::RaiseFault(fault.kind);
        },
        ::testing::KilledBySignal(fault.signal), "");
  }
}

TEST_F(GuardDeathTest, AFaultOnAThreadOutsideTheGuardEndsTheProcess) {
  EXPECT_EXIT(
      {
        // This thread waits inside the guard while another one faults.
        auto body = [] {
          std::thread other([] { test::RaiseFault(test::FaultKind::InvalidAccess); });
          other.join();
        };
        RunGuarded(target, body);
        _exit(0);
      },
      ::testing::KilledBySignal(SIGSEGV), "");
}

TEST_F(GuardDeathTest, ASignalSentByAProcessIsNotAFault) {
  EXPECT_EXIT(
      {
        auto body = [] { raise(SIGSEGV); };
        RunGuarded(target, body);
        _exit(0);
      },
      ::testing::KilledBySignal(SIGSEGV), "");
}

void PreviousWithInfo(int signal, siginfo_t* info, void*) {
  const bool genuine = signal == SIGSEGV && info->si_code > 0 && info->si_addr == test::InaccessibleAddress();
  _exit(genuine ? 42 : 41);
}

void PreviousPlain(int signal) { _exit(signal == SIGBUS ? 43 : 44); }

TEST_F(GuardDeathTest, FaultsOutsideGoToTheHandlerInstalledBefore) {
  EXPECT_EXIT(
      {
        struct sigaction previous {};
        previous.sa_sigaction = &PreviousWithInfo;
        previous.sa_flags = SA_SIGINFO;
        sigaction(SIGSEGV, &previous, nullptr);
        test::InaccessibleAddress();
        auto ordinary = [] {};
        RunGuarded(target, ordinary);
        test::RaiseFault(test::FaultKind::InvalidAccess);
      },
      ::testing::ExitedWithCode(42), "");
  EXPECT_EXIT(
      {
        signal(SIGBUS, &PreviousPlain);
        InstallCrashGuard();
        test::RaiseFault(test::FaultKind::BusError);
      },
      ::testing::ExitedWithCode(43), "");
}

TEST_F(GuardDeathTest, FaultsInsideTheGuardDoNotReachTheHandlerInstalledBefore) {
  EXPECT_EXIT(
      {
        struct sigaction previous {};
        previous.sa_sigaction = &PreviousWithInfo;
        previous.sa_flags = SA_SIGINFO;
        sigaction(SIGSEGV, &previous, nullptr);
        auto body = [] { test::RaiseFault(test::FaultKind::InvalidAccess); };
        const bool completed = RunGuarded(target, body);
        _exit(completed ? 1 : 7);
      },
      ::testing::ExitedWithCode(7), "");
}

TEST_F(GuardDeathTest, AnIgnoredSignalStaysIgnoredAndTheGuardKeepsWorking) {
  EXPECT_EXIT(
      {
        signal(SIGSEGV, SIG_IGN);
        auto body = [] { test::RaiseFault(test::FaultKind::InvalidAccess); };
        const bool first = RunGuarded(target, body);
        raise(SIGSEGV);  // sent, outside the guard: ignored as before
        const bool second = RunGuarded(target, body);
        _exit(!first && !second ? 7 : 8);
      },
      ::testing::ExitedWithCode(7), "");
  // A processor fault cannot be ignored: the process ends.
  EXPECT_EXIT(
      {
        signal(SIGSEGV, SIG_IGN);
        InstallCrashGuard();
        test::RaiseFault(test::FaultKind::InvalidAccess);
      },
      ::testing::KilledBySignal(SIGSEGV), "");
}

}  // namespace
}  // namespace sentrel
