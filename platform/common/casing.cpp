// Case changes of code-page text. Only ASCII letters change; a lead byte and
// the byte after it form one double-byte character that is skipped whole, so a
// trail byte that happens to be an ASCII letter keeps its case.
#include <cstdint>
#include <cstring>

#include "platform/codepage.h"

namespace sentrel::platform {

namespace {

constexpr std::uint64_t kEachByte = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Flips bit 0x20 of every byte of `word` that lies in first..last. Only for
// words of seven-bit bytes: then adding to a byte never carries into the next.
std::uint64_t FlipLetters(std::uint64_t word, unsigned char first, unsigned char last) {
  const std::uint64_t atLeastFirst = word + kEachByte * (0x80 - first);
  const std::uint64_t aboveLast = word + kEachByte * (0x80 - last - 1);
  const std::uint64_t inRange = atLeastFirst & ~aboveLast & kHighBits;
  return word ^ (inRange >> 2);
}

// Changes the letters first..last by flipping their 0x20 bit. Eight plain
// ASCII bytes at a time while there are such runs (most request values are
// nothing else); byte by byte around double-byte characters.
void ChangeCase(std::string& text, unsigned char first, unsigned char last) {
  const std::size_t size = text.size();
  char* const data = text.data();
  std::size_t i = 0;
  while (i < size) {
    if (size - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, data + i, 8);
      if ((word & kHighBits) == 0) {
        word = FlipLetters(word, first, last);
        std::memcpy(data + i, &word, 8);
        i += 8;
        continue;
      }
    }
    const auto b = static_cast<unsigned char>(data[i]);
    if (IsLeadByte(b)) {
      i += 2;  // the trail byte belongs to this character
      continue;
    }
    if (b >= first && b <= last) data[i] = static_cast<char>(b ^ 0x20);
    ++i;
  }
}

}  // namespace

void ToUpperInPlace(std::string& text) {
  ChangeCase(text, 'a', 'z');
}

void ToLowerInPlace(std::string& text) {
  ChangeCase(text, 'A', 'Z');
}

std::string ToUpper(std::string text) {
  ToUpperInPlace(text);
  return text;
}

std::string ToLower(std::string text) {
  ToLowerInPlace(text);
  return text;
}

}  // namespace sentrel::platform
