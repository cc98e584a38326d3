// Clocks on Windows: the C runtime's time() and localtime()/gmtime(), whose
// results live in per-thread storage in the Windows runtime, and Sleep.
#include <ctime>

#include "platform/clock.h"
#include "platform/win32/windows_api.h"

namespace sentrel::platform {

namespace {

// Copies a broken-down time out of the runtime's per-thread result.
std::tm Copy(const std::tm* tm) { return tm != nullptr ? *tm : std::tm{}; }

}  // namespace

std::int64_t SystemClock::Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::tm SystemClock::LocalTime(std::int64_t t) {
  const auto value = static_cast<std::time_t>(t);
  return Copy(std::localtime(&value));
}

void SystemClock::SleepMs(std::uint32_t ms) { ::Sleep(ms); }

std::tm FakeClock::LocalTime(std::int64_t t) {
  const auto value = static_cast<std::time_t>(t);
  return Copy(std::gmtime(&value));
}

}  // namespace sentrel::platform
