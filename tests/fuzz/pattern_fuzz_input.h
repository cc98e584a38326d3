// The input of the pattern fuzzers: one flag byte (bit 0: compile
// case-insensitively), then the pattern up to the first zero byte, then the
// subject (which may hold further zero bytes, where it ends).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace sentrel::fuzz {

struct PatternInput {
  bool caseSensitive = true;
  std::string_view pattern;
  std::string_view subject;
};

// False for inputs the fuzzers skip (empty, or over 4 KiB).
inline bool ReadPatternInput(const std::uint8_t* data, std::size_t size, PatternInput& input) {
  if (size == 0 || size > 4096) return false;
  input.caseSensitive = (data[0] & 1) == 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t zero = rest.find('\0');
  input.pattern = rest.substr(0, zero);
  input.subject = zero == std::string_view::npos ? std::string_view("") : rest.substr(zero + 1);
  return true;
}

inline void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace sentrel::fuzz
