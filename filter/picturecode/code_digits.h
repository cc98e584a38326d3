// The digits of a picture code, from an unpredictable random source.
#pragma once

#include <cstddef>

namespace sentrel::picturecode {

// The digit alphabet, picked by index 0 to 9.
inline constexpr char kDigitAlphabet[] = "1234567890";

// Fills `size` bytes with random bits; false when the source failed.
using RandomByteSource = bool (*)(void* buffer, std::size_t size);

// Writes `count` characters of the digit alphabet to `digits`, each of the
// ten with the same chance, from the random bytes of `source` (bytes that
// would favour some digits are thrown away). False when the source failed;
// `digits` is then unspecified.
bool PickCodeDigits(char* digits, int count, RandomByteSource source);

}  // namespace sentrel::picturecode
