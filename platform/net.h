// IPv4 address conversion with the semantics of the sockets library.
#pragma once

#include <cstdint>

namespace sentrel::platform {

inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

// Converts dotted address text to an address in network byte order, as
// inet_addr does: one to four parts separated by dots, each decimal, octal
// (leading 0) or hexadecimal (leading 0x); anything else gives kInaddrNone.
std::uint32_t InetAddr(const char* text);

// Network to host byte order.
std::uint32_t Ntohl(std::uint32_t value);

}  // namespace sentrel::platform
