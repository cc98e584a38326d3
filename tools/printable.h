// Code-page text for a terminal or a report: converted to UTF-8, with control
// bytes escaped so that a value holding binary garbage cannot disturb the
// terminal.
#pragma once

#include <string>

namespace sentrel::tools {

std::string Printable(const std::string& codePageText);

}  // namespace sentrel::tools
