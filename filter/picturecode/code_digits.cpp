#include "filter/picturecode/code_digits.h"

#include <cstdint>

namespace sentrel::picturecode {

bool PickCodeDigits(char* digits, int count, RandomByteSource source) {
  // 250 is the largest multiple of 10 a byte can hold: bytes from 250 up are
  // drawn again, so every remainder 0 to 9 is equally likely.
  constexpr unsigned kAcceptBelow = 250;
  // A source that keeps giving only such bytes is broken; give up on it.
  constexpr int kMaxFruitlessDraws = 16;
  std::uint8_t pool[32];
  int filled = 0;
  int fruitless = 0;
  while (filled < count) {
    if (fruitless == kMaxFruitlessDraws || !source(pool, sizeof pool)) return false;
    const int before = filled;
    for (std::uint8_t byte : pool) {
      if (byte >= kAcceptBelow) continue;
      digits[filled++] = kDigitAlphabet[byte % 10];
      if (filled == count) break;
    }
    fruitless = filled == before ? fruitless + 1 : 0;
  }
  return true;
}

}  // namespace sentrel::picturecode
