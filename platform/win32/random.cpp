// The operating system's cryptographic random source on Windows.
#include "platform/random.h"

#include <climits>

#include "platform/win32/windows_api.h"

#include <bcrypt.h>

namespace sentrel::platform {

bool SecureRandomBytes(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ULONG chunk = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return false;
    }
    out += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace sentrel::platform
