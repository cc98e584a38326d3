#include "tools/printable.h"

#include <cstdio>

#include "platform/codepage.h"

namespace sentrel::tools {

std::string Printable(const std::string& codePageText) {
  return EscapeControlBytes(platform::CodePageToUtf8(codePageText));
}

std::string EscapeControlBytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
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
