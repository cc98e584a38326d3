// A test shim preloaded into the server of the end-to-end test: the system's
// random source (getrandom) gives the same byte, SENTREL_FIXED_RANDOM_BYTE
// (default 3), for every byte asked for. The filter draws its picture-code
// digits from that source, so the test knows the code it has to answer.
#include <sys/types.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

extern "C" __attribute__((visibility("default"))) ssize_t getrandom(void* buffer, std::size_t length,
                                                                    unsigned int) {
  const char* text = std::getenv("SENTREL_FIXED_RANDOM_BYTE");
  const int value = text != nullptr ? std::atoi(text) : 3;
  std::memset(buffer, value & 0xFF, length);
  return static_cast<ssize_t>(length);
}
