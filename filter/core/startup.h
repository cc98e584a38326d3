// The staged start-up: after a successful load, each end-of-session
// notification may run the next stage (address lists, journal, modules, then
// normal operation), one stage at most every three seconds, under StartupLock.
// Until the last stage has run, requests pass unevaluated.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "filter/logging/activity_log.h"
#include "platform/clock.h"
#include "platform/lock.h"

namespace sentrel {

enum StartupStage : std::uint8_t {
  kListsDue = 0,
  kCacheDue = 1,
  kModulesDue = 2,
  kStartDue = 3,
  kStarted = 4,
  kBusyOrHalted = 5,
};

class Startup {
 public:
  struct Stages {
    std::function<void()> addressLists;
    std::function<void()> cache;
    std::function<bool()> modules;  // false when no module could be loaded
  };

  Startup(platform::Clock& clock, ActivityLog& log, std::atomic<std::uint8_t>& startupPending)
      : clock_(clock), log_(log), startupPending_(startupPending) {}

  // Makes the first stage due more than three seconds from now.
  void Arm() { lastStageTime_.store(clock_.Now()); }

  void RunStartupStage(const Stages& stages);

  std::uint8_t Stage() const { return startupStage_.load(); }
  platform::CriticalSection& StartupLock() { return startupLock_; }

 private:
  void Message(const char* text);

  platform::Clock& clock_;
  ActivityLog& log_;
  std::atomic<std::uint8_t>& startupPending_;
  std::atomic<std::uint8_t> startupStage_{kListsDue};
  std::atomic<std::int64_t> lastStageTime_{0};
  platform::CriticalSection startupLock_;
};

}  // namespace sentrel
