#include "hosts/common/server_variables.h"

#include "hosts/common/url_path.h"

#include <array>
#include <cstring>

namespace sentrel::hosts {

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

}  // namespace sentrel::hosts
