// Time: seconds since 1970, local time, and sleeping, behind one interface that
// tests replace with a fake clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

namespace sentrel::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970 (UTC).
  virtual std::int64_t Now() = 0;
  // Breaks a time down into local calendar time.
  virtual std::tm LocalTime(std::int64_t t) = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;

  // The current local time formatted with a strftime pattern.
  std::string FormatNow(const char* pattern);
};

// The system clock, local time as the process's time zone says.
class SystemClock final : public Clock {
 public:
  std::int64_t Now() override;
  std::tm LocalTime(std::int64_t t) override;
  void SleepMs(std::uint32_t ms) override;
};

// A clock for tests and dry runs: time stands still until it is set or
// advanced; sleeping advances virtual time at once. Local time is UTC, so
// results do not depend on the machine's time zone.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::int64_t start = 1700000000) : nowMs_(start * 1000) {}
  std::int64_t Now() override { return nowMs_.load() / 1000; }
  std::tm LocalTime(std::int64_t t) override;
  void SleepMs(std::uint32_t ms) override {
    nowMs_ += ms;
    sleptMs_ += ms;
  }

  void Set(std::int64_t seconds) { nowMs_ = seconds * 1000; }
  void Advance(std::int64_t seconds) { nowMs_ += seconds * 1000; }
  // Total milliseconds spent in SleepMs.
  std::uint64_t SleptMs() const { return sleptMs_.load(); }

 private:
  std::atomic<std::int64_t> nowMs_;
  std::atomic<std::uint64_t> sleptMs_{0};
};

// Formats a broken-down time with a strftime pattern.
std::string FormatTime(const std::tm& tm, const char* pattern);

}  // namespace sentrel::platform
