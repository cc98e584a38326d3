// The settings-file integer reader's number syntax.
#include <cstdint>

#include "platform/profile.h"

namespace sentrel::platform {

// Leading blanks, an optional sign, then the leading decimal digits; anything
// after them is ignored and text without digits reads as 0. The number is
// accumulated as an unsigned 32-bit value, so digits beyond its range wrap
// around (4294967295 reads as -1, 4294967296 as 0) as the platform's reader
// does; a minus sign negates the wrapped value.
int ParseProfileInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

}  // namespace sentrel::platform
