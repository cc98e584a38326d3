#include "hosts/common/url_path.h"

#include <vector>

namespace sentrel::hosts {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DecodeUrlPath(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '%' && i + 2 < raw.size()) {
      const int hi = HexDigitValue(raw[i + 1]);
      const int lo = HexDigitValue(raw[i + 2]);
      if (hi >= 0 && lo >= 0 && (hi != 0 || lo != 0)) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(raw[i]);
  }
  return out;
}

std::string NormalizeUrlPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::string(path);
  std::vector<std::string_view> segments;
  bool trailingSlash = false;
  std::size_t start = 1;
  for (;;) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      trailingSlash = true;
    } else if (segment == "." || segment.empty()) {
      trailingSlash = true;  // "." or a repeated or final slash
    } else {
      segments.push_back(segment);
      trailingSlash = false;
    }
    if (end == path.size()) break;
    start = end + 1;
  }
  std::string out;
  out.reserve(path.size());
  for (std::string_view segment : segments) {
    out += '/';
    out += segment;
  }
  if (out.empty() || trailingSlash) out += '/';
  return out;
}

}  // namespace sentrel::hosts
