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

// The stage due next; its value is the start-up's progress counter.
enum class StartupStage : std::uint8_t {
  ListsDue = 0,
  CacheDue = 1,
  ModulesDue = 2,
  StartDue = 3,
  Started = 4,
  BusyOrHalted = 5,  // a stage is running, or the start-up halted for good
};

// A stage runs only when more than this many seconds have passed since the
// library was loaded or the previous stage ran.
inline constexpr std::int64_t kStageGapSeconds = 3;

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

  StartupStage Stage() const { return startupStage_.load(); }
  platform::CriticalSection& StartupLock() { return startupLock_; }

 private:
  platform::Clock& clock_;
  ActivityLog& log_;
  std::atomic<std::uint8_t>& startupPending_;
  std::atomic<StartupStage> startupStage_{StartupStage::ListsDue};
  std::atomic<std::int64_t> lastStageTime_{0};
  platform::CriticalSection startupLock_;
};

}  // namespace sentrel
