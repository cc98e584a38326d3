// Formatting of calendar times, shared by every clock.
#include <vector>

#include "platform/clock.h"

namespace sentrel::platform {

std::string FormatTime(const std::tm& tm, const char* pattern) {
  if (pattern == nullptr || *pattern == '\0') return {};
  // strftime reports 0 both for "too small" and for an empty result, so the
  // buffer grows a bounded number of times before the result is taken as empty.
  std::vector<char> buffer(128);
  while (buffer.size() <= 65536) {
    const std::size_t n = std::strftime(buffer.data(), buffer.size(), pattern, &tm);
    if (n > 0) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 4);
  }
  return {};
}

std::string Clock::FormatNow(const char* pattern) { return FormatTime(LocalTime(Now()), pattern); }

}  // namespace sentrel::platform
