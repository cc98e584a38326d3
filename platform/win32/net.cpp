// IPv4 address conversion with the sockets library's own routines. inet_addr
// and ntohl need no started sockets library.
#include "platform/net.h"
#include "platform/win32/windows_api.h"

namespace sentrel::platform {

std::uint32_t InetAddr(const char* text) {
  if (text == nullptr) return kInaddrNone;
  return static_cast<std::uint32_t>(::inet_addr(text));
}

std::uint32_t Ntohl(std::uint32_t value) { return static_cast<std::uint32_t>(::ntohl(value)); }

}  // namespace sentrel::platform
