#include "tools/printable.h"

#include <cstdio>

#include "platform/codepage.h"

namespace sentrel::tools {

std::string Printable(const std::string& codePageText) {
  std::string utf8 = platform::CodePageToUtf8(codePageText);
  std::string out;
  out.reserve(utf8.size());
  for (unsigned char c : utf8) {
    if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace sentrel::tools
