// The parts of the crash dumps every platform shares: calendar arithmetic,
// the dump name and path, and the target's preparation.
#include "filter/crash/crash_dump.h"

#include <cstring>

#include "filter/crash/signal_safe_text.h"
#include "platform/files.h"

namespace sentrel {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// How long a captured UTC offset is trusted, in seconds of clock time.
constexpr std::int64_t kOffsetRecheckSeconds = 600;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

// Days and civil dates by eras of 400 years (146097 days), counted from
// 1 March so that the leap day ends the year.
CivilTime CivilFromSeconds(std::int64_t seconds) {
  const std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const std::int64_t secondOfDay = seconds - days * kSecondsPerDay;

  const std::int64_t z = days + 719468;
  const std::int64_t era = FloorDiv(z, 146097);
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;

  CivilTime t;
  t.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  t.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
  t.hour = static_cast<int>(secondOfDay / 3600);
  t.minute = static_cast<int>(secondOfDay / 60 % 60);
  t.second = static_cast<int>(secondOfDay % 60);
  return t;
}

std::int64_t SecondsFromCivil(const CivilTime& time) {
  const std::int64_t year = static_cast<std::int64_t>(time.year) - (time.month <= 2 ? 1 : 0);
  const std::int64_t era = FloorDiv(year, 400);
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t monthFromMarch = time.month > 2 ? time.month - 3 : time.month + 9;
  const std::int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + time.day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return days * kSecondsPerDay + time.hour * 3600 + time.minute * 60 + time.second;
}

std::size_t FormatDumpName(const CivilTime& time, char* out, std::size_t capacity) {
  SignalSafeText name(out, capacity);
  name.Append(kCrashDumpVersion).Char('_').Decimal(time.year, 4).Char('-').Decimal(time.month);
  name.Char('-').Decimal(time.day).Char(' ').Decimal(time.hour).Char('_').Decimal(time.minute);
  name.Char('_').Decimal(time.second);
  if (name.Overflowed()) {
    if (capacity > 0) out[0] = '\0';
    return 0;
  }
  return name.Length();
}

void CrashDumpTarget::Configure(const std::string& folderPath, platform::Clock& clock) {
  clock_ = nullptr;
  folderLength_ = 0;
  const std::string folder = platform::NativePath(folderPath + "Log\\");
  // Leave room for the longest name and ".dmp".
  if (folder.size() + 64 > kPathCapacity) return;
  std::memcpy(folder_, folder.data(), folder.size());
  folder_[folder.size()] = '\0';
  folderLength_ = folder.size();
  clock_ = &clock;
  CaptureUtcOffset(clock.Now());
}

void CrashDumpTarget::CaptureUtcOffset(std::int64_t now) {
  const std::tm local = clock_->LocalTime(now);
  CivilTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  utcOffset_.store(SecondsFromCivil(t) - now, std::memory_order_relaxed);
  nextOffsetCheck_.store(now + kOffsetRecheckSeconds, std::memory_order_relaxed);
}

void CrashDumpTarget::KeepLocalTimeCurrent() {
  if (clock_ == nullptr) return;
  const std::int64_t now = clock_->Now();
  std::int64_t due = nextOffsetCheck_.load(std::memory_order_relaxed);
  if (now < due) return;
  // One thread captures; the others keep using the previous offset meanwhile.
  if (!nextOffsetCheck_.compare_exchange_strong(due, now + kOffsetRecheckSeconds,
                                                std::memory_order_relaxed)) {
    return;
  }
  CaptureUtcOffset(now);
}

std::size_t CrashDumpTarget::DumpPath(const CivilTime& time, char* out, std::size_t capacity) const {
  if (clock_ == nullptr) return 0;
  char name[96];
  if (FormatDumpName(time, name, sizeof(name)) == 0) return 0;
  SignalSafeText path(out, capacity);
  path.Append(folder_, folderLength_).Append(name).Append(".dmp");
  if (path.Overflowed()) {
    if (capacity > 0) out[0] = '\0';
    return 0;
  }
  return path.Length();
}

}  // namespace sentrel
