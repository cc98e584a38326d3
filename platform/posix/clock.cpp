// Clocks on POSIX: time(), localtime_r/gmtime_r and a thread sleep.
#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace sentrel::platform {

std::int64_t SystemClock::Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::tm SystemClock::LocalTime(std::int64_t t) {
  std::tm out{};
  const auto value = static_cast<std::time_t>(t);
  if (localtime_r(&value, &out) == nullptr) return std::tm{};
  return out;
}

void SystemClock::SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::tm FakeClock::LocalTime(std::int64_t t) {
  std::tm out{};
  const auto value = static_cast<std::time_t>(t);
  if (gmtime_r(&value, &out) == nullptr) return std::tm{};
  return out;
}

}  // namespace sentrel::platform
