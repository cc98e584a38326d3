// The clock of a replay: it shows the time of the log line being replayed.
// It only moves forward (a line logged a little out of order leaves it where
// it is), sleeping advances it at once without real waiting, and local time is
// the log's own (its UTC offset), so the filter's log and journal files carry
// the dates and times the server would have given them.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace sentrel::replay {

class ReplayClock final : public platform::Clock {
 public:
  explicit ReplayClock(std::int64_t start = 0) : nowMs_(start * 1000) {}

  std::int64_t Now() override;
  std::tm LocalTime(std::int64_t t) override;
  void SleepMs(std::uint32_t ms) override;

  // Moves to a time (seconds since 1970, UTC); an earlier time is ignored.
  void MoveTo(std::int64_t seconds);
  void Advance(std::int64_t seconds) { nowMs_ += seconds * 1000; }
  // The offset from UTC, seconds east, that local time uses.
  void SetUtcOffset(std::int32_t seconds) { utcOffset_ = seconds; }
  std::int32_t UtcOffset() const { return utcOffset_; }

  // Milliseconds spent sleeping, all told, and the number of sleeps.
  std::uint64_t SleptMs() const { return sleptMs_; }
  std::uint64_t Sleeps() const { return sleeps_; }

 private:
  std::int64_t nowMs_;
  std::int32_t utcOffset_ = 0;
  std::uint64_t sleptMs_ = 0;
  std::uint64_t sleeps_ = 0;
};

}  // namespace sentrel::replay
