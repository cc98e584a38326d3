// Code-page text for a terminal or a report: converted to UTF-8, with control
// bytes escaped so that a value holding binary garbage cannot disturb the
// terminal.
#pragma once

#include <string>
#include <string_view>

namespace sentrel::tools {

std::string Printable(const std::string& codePageText);

// Text with its control bytes (below 0x20, and 0x7F) written as "\xHH".
std::string EscapeControlBytes(std::string_view text);

}  // namespace sentrel::tools
