#include "hosts/apache/isapi_bridge.h"

#include <array>
#include <cstring>

namespace sentrel::apache {

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}


std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

struct FixedName {
  std::string_view name;
  Variable kind;
};

constexpr std::array<FixedName, 13> kFixedNames{{
    {"REMOTE_ADDR", Variable::RemoteAddr},
    {"REMOTE_PORT", Variable::RemotePort},
    {"LOCAL_ADDR", Variable::LocalAddr},
    {"SERVER_NAME", Variable::ServerName},
    {"SERVER_PORT", Variable::ServerPort},
    {"SERVER_PROTOCOL", Variable::ServerProtocol},
    {"HTTPS", Variable::Https},
    {"REQUEST_METHOD", Variable::RequestMethod},
    {"URL", Variable::Url},
    {"QUERY_STRING", Variable::QueryString},
    {"CONTENT_TYPE", Variable::ContentType},
    {"CONTENT_LENGTH", Variable::ContentLength},
    {"ALL_HTTP", Variable::AllHttp},
}};

constexpr std::string_view kHeaderPrefix = "HTTP_";

}  // namespace

bool ResolveVariable(std::string_view name, VariableName& out) {
  out.kind = Variable::Unknown;
  out.header.clear();
  for (const FixedName& fixed : kFixedNames) {
    if (EqualsNoCase(name, fixed.name)) {
      out.kind = fixed.kind;
      return true;
    }
  }
  if (name.size() <= kHeaderPrefix.size() ||
      !EqualsNoCase(name.substr(0, kHeaderPrefix.size()), kHeaderPrefix)) {
    return false;
  }
  std::string_view rest = name.substr(kHeaderPrefix.size());
  std::string header;
  header.reserve(rest.size());
  for (char c : rest) {
    if (c == '_') {
      header.push_back('-');
    } else if (IsNameChar(c)) {
      header.push_back(c);
    } else {
      return false;
    }
  }
  out.kind = Variable::Header;
  out.header = std::move(header);
  return true;
}

bool HeaderVariableName(std::string_view header, std::string& out) {
  out.clear();
  if (header.empty()) return false;
  out.reserve(kHeaderPrefix.size() + header.size());
  out.append(kHeaderPrefix);
  for (char c : header) {
    if (c == '-') {
      out.push_back('_');
    } else if (IsNameChar(c)) {
      out.push_back(UpperAscii(c));
    } else {
      out.clear();
      return false;
    }
  }
  return true;
}

void AppendAllHttpLine(std::string& out, std::string_view header, std::string_view value) {
  std::string name;
  if (!HeaderVariableName(header, name)) return;
  out.append(name);
  out.push_back(':');
  out.append(value);
  out.push_back('\n');
}

CopyResult CopyVariableValue(std::string_view value, void* buffer, DWORD* size) {
  if (size == nullptr) return CopyResult::InvalidArgument;
  const std::size_t needed = value.size() + 1;
  if (needed > 0xFFFFFFFFu) return CopyResult::InvalidArgument;
  if (buffer == nullptr || *size < needed) {
    *size = static_cast<DWORD>(needed);
    return CopyResult::BufferTooSmall;
  }
  if (!value.empty()) std::memcpy(buffer, value.data(), value.size());
  static_cast<char*>(buffer)[value.size()] = '\0';
  *size = static_cast<DWORD>(needed);
  return CopyResult::Copied;
}

std::string UrlVariable(std::string_view rawPath) { return NormalizeUrlPath(DecodeUrlPath(rawPath)); }

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

}  // namespace sentrel::apache
