// UTF-8 sequence lengths, for the code-page conversions of every platform.
#pragma once

#include <cstddef>
#include <string_view>

namespace sentrel::platform::detail {

// The length of the UTF-8 sequence whose lead byte stands at `at`, counting
// only the continuation bytes that are there (1 for a byte that starts none),
// so that a broken sequence is skipped whole and nothing past it is lost.
inline std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto b = static_cast<unsigned char>(text[at]);
  std::size_t len = 1;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
  }
  std::size_t n = 1;
  while (n < len && at + n < text.size() && (static_cast<unsigned char>(text[at + n]) & 0xC0) == 0x80) {
    ++n;
  }
  return n;
}

}  // namespace sentrel::platform::detail
