#include "filter/picturecode/code_digits.h"

#include <cstdint>

namespace sentrel::picturecode {

bool PickCodeDigits(char* digits, int count, RandomByteSource source) {
  // 250 is the largest multiple of 10 a byte can hold: bytes from 250 up are
  // drawn again, so every remainder 0 to 9 is equally likely.
  constexpr unsigned kAcceptBelow = 250;
  // A source that keeps giving only such bytes is broken; give up on it.
  constexpr int kMaxDraws = 64;
  std::uint8_t pool[32];
  int filled = 0;
  for (int draws = 0; filled < count; ++draws) {
    if (draws == kMaxDraws || !source(pool, sizeof pool)) return false;
    for (std::uint8_t byte : pool) {
      if (byte >= kAcceptBelow) continue;
      digits[filled++] = kDigitAlphabet[byte % 10];
      if (filled == count) break;
    }
  }
  return true;
}

}  // namespace sentrel::picturecode
