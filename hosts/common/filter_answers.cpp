#include "hosts/common/filter_answers.h"

#include <string_view>

namespace sentrel::hosts {

namespace {

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool ParseStatusText(const char* text, StatusText& out) {
  out = StatusText{};
  if (text == nullptr || *text == '\0') return true;
  std::string_view s = Trim(std::string_view(text));
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  if (s.size() < 3) return false;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    code = code * 10 + (s[i] - '0');
  }
  if (code < 100) return false;
  if (s.size() > 3 && s[3] != ' ') return false;
  for (char c : s) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
  }
  out.code = code;
  out.line = std::string(s);
  return true;
}

std::vector<std::pair<std::string, std::string>> ParseHeaderLines(const char* text) {
  std::vector<std::pair<std::string, std::string>> headers;
  if (text == nullptr) return headers;
  std::string_view rest(text);
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    std::string_view name = line.substr(0, colon);
    bool valid = true;
    for (char c : name) {
      if (!(IsNameChar(c) || c == '-' || c == '_')) valid = false;
    }
    if (!valid) continue;
    headers.emplace_back(std::string(name), std::string(Trim(line.substr(colon + 1))));
  }
  return headers;
}

Outcome ClassifyStatus(DWORD status) {
  switch (status) {
    case SF_STATUS_REQ_FINISHED:
    case SF_STATUS_REQ_FINISHED_KEEP_CONN:
      return Outcome::Finished;
    case SF_STATUS_REQ_ERROR:
      return Outcome::Error;
    default:
      return Outcome::Continue;
  }
}

bool WantsNotification(DWORD flags, DWORD type, bool secure) {
  if ((flags & type) == 0) return false;
  const DWORD portFlags = SF_NOTIFY_SECURE_PORT | SF_NOTIFY_NONSECURE_PORT;
  if ((flags & portFlags) == 0) return true;
  return (flags & (secure ? SF_NOTIFY_SECURE_PORT : SF_NOTIFY_NONSECURE_PORT)) != 0;
}

}  // namespace sentrel::hosts
