#include "filter/core/startup.h"

#include "filter/logging/program_messages.h"

namespace sentrel {

void Startup::Message(const char* text) { log_.WriteLog("Log", text, "", LogMode::Immediate); }

void Startup::RunStartupStage(const Stages& stages) {
  std::int64_t now = clock_.Now();
  if (now - lastStageTime_.load() <= 3) return;
  lastStageTime_.store(now);

  platform::ScopedLock lock(startupLock_);
  switch (startupStage_.load()) {
    case kListsDue:
      startupStage_ = kBusyOrHalted;
      if (stages.addressLists) stages.addressLists();
      lastStageTime_.store(clock_.Now());
      startupStage_ = kCacheDue;
      break;
    case kCacheDue:
      startupStage_ = kBusyOrHalted;
      if (stages.cache) stages.cache();
      lastStageTime_.store(clock_.Now());
      startupStage_ = kModulesDue;
      break;
    case kModulesDue:
      startupStage_ = kBusyOrHalted;
      if (!stages.modules || !stages.modules()) {
        // No usable module: the start-up halts for the life of the library.
        Message(messages::kNoModule);
        return;
      }
      lastStageTime_.store(clock_.Now());
      startupStage_ = kStartDue;
      break;
    case kStartDue:
      startupStage_ = kBusyOrHalted;
      Message(messages::kStarting);
      Message(messages::kStarted);
      startupStage_ = kStarted;
      startupPending_.store(0, std::memory_order_release);
      break;
    default:
      break;
  }
}

}  // namespace sentrel
