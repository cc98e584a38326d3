// Crash dumps: when the crash guard catches a fault during a notification,
// WriteCrashDump leaves a record of it in the settings folder's "Log" folder,
// named after the filter's version and the local date and time of the fault,
// e.g. "Log\4.3.9.2_2011-3-2 16_5_7.dmp".
//
// On POSIX the dump is a text record of the fault (signal and code, faulting
// address, registers, process and thread ids, time) and a stack trace of the
// faulting thread. It is written from the fault handler, so everything the
// writer needs (the folder's native path, the local-time offset) is prepared
// beforehand and writing uses async-signal-safe calls only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace sentrel {

// The version text that starts every dump name.
inline constexpr char kCrashDumpVersion[] = "4.3.9.2";

// What WriteCrashDump answers: the guard is to run its handler (the value the
// platform's exception filters use).
inline constexpr int kExecuteHandler = 1;

// A calendar date and time, without a time zone.
struct CivilTime {
  int year = 1970;
  int month = 1;   // 1 to 12
  int day = 1;     // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Breaks seconds since 1970 down into calendar time and back, in the proleptic
// Gregorian calendar. Pure arithmetic, async-signal-safe.
CivilTime CivilFromSeconds(std::int64_t seconds);
std::int64_t SecondsFromCivil(const CivilTime& time);

// Writes the dump name of a fault time, formatted as "%s_%4d-%d-%d %d_%d_%d"
// with the version text, year, month, day, hour, minute and second, plus a
// terminating zero. Returns the name's length, or 0 when it does not fit.
// Async-signal-safe.
std::size_t FormatDumpName(const CivilTime& time, char* out, std::size_t capacity);

// What the platform hands the dump writer about a fault. On POSIX: the signal
// with its siginfo_t and ucontext_t; on Windows: the exception pointers in
// `platformRecord`. A C++ exception caught by the guard has no platform record;
// its type and message are given instead.
struct FaultInfo {
  int signal = 0;                         // 0 for a C++ exception
  const void* platformRecord = nullptr;   // siginfo_t* / EXCEPTION_POINTERS*
  const void* platformContext = nullptr;  // ucontext_t*
  const char* exceptionType = nullptr;
  const char* exceptionText = nullptr;
};

// Where the dumps of one filter instance go and which clock dates them.
class CrashDumpTarget {
 public:
  CrashDumpTarget() = default;
  CrashDumpTarget(const CrashDumpTarget&) = delete;
  CrashDumpTarget& operator=(const CrashDumpTarget&) = delete;

  // Dumps go to folderPath + "Log\" (folderPath ends in one backslash). The
  // folder's native path is built now, and the clock's offset from UTC is
  // captured, so that the fault handler needs neither allocation nor a
  // time-zone lookup. A path too long to be kept leaves dumps off.
  void Configure(const std::string& folderPath, platform::Clock& clock);

  // Captures the clock's UTC offset again when ten minutes of clock time have
  // passed since it was last captured, so dump names follow daylight-saving
  // changes. Called on the notification path; cheap when nothing is due.
  void KeepLocalTimeCurrent();

  bool Configured() const { return clock_ != nullptr; }

  // Seconds since 1970 now, by the target's clock. Async-signal-safe for the
  // system clock (time()) and the fake clock (an atomic load).
  std::int64_t Now() const { return clock_->Now(); }
  // Local calendar time of a time, by the captured offset. Async-signal-safe.
  CivilTime LocalTime(std::int64_t seconds) const { return CivilFromSeconds(seconds + UtcOffset()); }
  std::int64_t UtcOffset() const { return utcOffset_.load(std::memory_order_relaxed); }

  // Writes the dump file's native path for a fault time: the Log folder, the
  // dump name and ".dmp". Returns its length, or 0 when it does not fit.
  // Async-signal-safe.
  std::size_t DumpPath(const CivilTime& time, char* out, std::size_t capacity) const;

  // Dumps written so far. Counted by the dump writer (a lock-free atomic, so
  // async-signal-safe).
  std::uint64_t DumpsWritten() const { return dumpsWritten_.load(std::memory_order_relaxed); }
  void CountDumpWritten() const { dumpsWritten_.fetch_add(1, std::memory_order_relaxed); }

  // Room for a 1023-byte settings folder, "Log/", a name and ".dmp".
  static constexpr std::size_t kPathCapacity = 1200;

 private:
  void CaptureUtcOffset(std::int64_t now);

  platform::Clock* clock_ = nullptr;
  char folder_[kPathCapacity] = {};
  std::size_t folderLength_ = 0;
  std::atomic<std::int64_t> utcOffset_{0};
  std::atomic<std::int64_t> nextOffsetCheck_{0};
  mutable std::atomic<std::uint64_t> dumpsWritten_{0};
};

// Writes the dump of one fault: creates the dump file exclusively (a fresh
// file, or an existing one emptied; when another writer has the same file
// open, nothing is written) and writes the record into it. Writes nothing when
// the target is not configured, the Log folder is missing or the file cannot
// be created; nothing is reported. Always returns kExecuteHandler. Takes no
// lock of the filter; on POSIX it is async-signal-safe.
int WriteCrashDump(const CrashDumpTarget& target, const FaultInfo& fault);

}  // namespace sentrel
