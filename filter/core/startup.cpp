#include "filter/core/startup.h"

#include "filter/logging/program_messages.h"

namespace sentrel {

void Startup::RunStartupStage(const Stages& stages) {
  std::int64_t now = clock_.Now();
  if (now - lastStageTime_.load() <= kStageGapSeconds) return;
  lastStageTime_.store(now);

  platform::ScopedLock lock(startupLock_);
  switch (startupStage_.load()) {
    case StartupStage::ListsDue:
      startupStage_ = StartupStage::BusyOrHalted;
      if (stages.addressLists) stages.addressLists();
      lastStageTime_.store(clock_.Now());
      startupStage_ = StartupStage::CacheDue;
      break;
    case StartupStage::CacheDue:
      startupStage_ = StartupStage::BusyOrHalted;
      if (stages.cache) stages.cache();
      lastStageTime_.store(clock_.Now());
      startupStage_ = StartupStage::ModulesDue;
      break;
    case StartupStage::ModulesDue:
      startupStage_ = StartupStage::BusyOrHalted;
      if (!stages.modules || !stages.modules()) {
        // No usable module: the start-up halts for the life of the library.
        log_.WriteProgramMessage(messages::kNoModule);
        return;
      }
      lastStageTime_.store(clock_.Now());
      startupStage_ = StartupStage::StartDue;
      break;
    case StartupStage::StartDue:
      startupStage_ = StartupStage::BusyOrHalted;
      log_.WriteProgramMessage(messages::kStarting);
      log_.WriteProgramMessage(messages::kStarted);
      startupStage_ = StartupStage::Started;
      startupPending_.store(0, std::memory_order_release);
      break;
    default:
      break;
  }
}

}  // namespace sentrel
