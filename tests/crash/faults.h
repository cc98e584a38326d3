// Genuine processor faults for the crash tests, and clocks that can be made to
// fault or to run at a chosen offset from UTC.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <ostream>
#include <string>

#include "platform/clock.h"

namespace sentrel::test {

enum class FaultKind {
  InvalidAccess,       // a write to a page mapped without access
  BusError,            // a read past the end of a mapped file
  DivideByZero,        // an integer division by zero
  IllegalInstruction,  // an undefined instruction
  StackOverflow,       // unbounded recursion into the stack's guard page
};

struct FaultCase {
  FaultKind kind;
  const char* name;
  int signal;
  const char* code;  // the signal code's name in the dump
};

inline void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

// Every fault kind with what its dump shows.
const FaultCase* FaultCases(std::size_t& count);

// Whether the fault can be raised on this processor.
bool FaultSupported(FaultKind kind);

// Raises the fault; never returns normally.
[[noreturn]] void RaiseFault(FaultKind kind);

// The address the InvalidAccess fault writes to.
const void* InaccessibleAddress();

// A fake clock whose local time is UTC plus an offset that tests can change.
class OffsetClock final : public platform::Clock {
 public:
  explicit OffsetClock(std::int64_t start, std::int64_t offsetSeconds = 0)
      : now_(start), offset_(offsetSeconds) {}
  std::int64_t Now() override { return now_.load(); }
  std::tm LocalTime(std::int64_t t) override;
  void SleepMs(std::uint32_t ms) override { now_ += ms / 1000; }

  void Set(std::int64_t seconds) { now_ = seconds; }
  void Advance(std::int64_t seconds) { now_ += seconds; }
  void SetOffset(std::int64_t seconds) { offset_ = seconds; }

 private:
  std::atomic<std::int64_t> now_;
  std::atomic<std::int64_t> offset_;
};

// A fake clock (local time = UTC) that raises an invalid memory access in
// one of its calls once armed: after `skip` further calls of that kind pass.
// The fault is raised once per arming.
class FaultingClock final : public platform::Clock {
 public:
  enum class Call { Now, LocalTime, Sleep };

  explicit FaultingClock(std::int64_t start = 1700000000) : now_(start) {}
  std::int64_t Now() override;
  std::tm LocalTime(std::int64_t t) override;
  void SleepMs(std::uint32_t ms) override;

  void Set(std::int64_t seconds) { now_ = seconds; }
  void Advance(std::int64_t seconds) { now_ += seconds; }
  void Arm(Call call, int skip = 0) {
    armedCall_ = call;
    skip_ = skip;
    armed_ = true;
  }
  bool Armed() const { return armed_.load(); }

 private:
  void MaybeFault(Call call);

  std::atomic<std::int64_t> now_;
  std::atomic<bool> armed_{false};
  std::atomic<Call> armedCall_{Call::Now};
  std::atomic<int> skip_{0};
};

}  // namespace sentrel::test
