// Random numbers: the C runtime's seeded generator (the same sequence on every
// platform) and the operating system's cryptographic source.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sentrel::platform {

// The C runtime's linear congruential generator: values 0 to 32767.
class CrtRand {
 public:
  void Seed(std::uint32_t seed) { state_ = seed; }
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  std::uint32_t state_ = 1;
};

// Fills `size` bytes from the operating system's cryptographic random source.
// Returns false when the source failed.
bool SecureRandomBytes(void* buffer, std::size_t size);

}  // namespace sentrel::platform
