#include "tools/replay/replay_clock.h"

#include <ctime>

namespace sentrel::replay {

std::int64_t ReplayClock::Now() {
  // Whole seconds, rounded down also before 1970.
  return nowMs_ >= 0 ? nowMs_ / 1000 : -((-nowMs_ + 999) / 1000);
}

std::tm ReplayClock::LocalTime(std::int64_t t) {
  std::tm out{};
  const auto value = static_cast<std::time_t>(t + utcOffset_);
  if (gmtime_r(&value, &out) == nullptr) return std::tm{};
  return out;
}

void ReplayClock::SleepMs(std::uint32_t ms) {
  nowMs_ += ms;
  sleptMs_ += ms;
  ++sleeps_;
}

void ReplayClock::MoveTo(std::int64_t seconds) {
  if (seconds * 1000 > nowMs_) nowMs_ = seconds * 1000;
}

}  // namespace sentrel::replay
