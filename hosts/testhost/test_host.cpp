#include "hosts/testhost/test_host.h"

#include <iterator>

namespace sentrel::testhost {

TestRequest::TestRequest(std::map<std::string, std::string> variables)
    : variables_(std::make_move_iterator(variables.begin()), std::make_move_iterator(variables.end())) {}

int TestRequest::LookupsOf(const std::string& name) const {
  auto it = lookups.find(name);
  return it == lookups.end() ? 0 : it->second;
}

bool TestRequest::FindVariable(std::string_view name, std::string&, std::string_view& value) {
  auto counted = lookups.find(name);
  if (counted == lookups.end()) counted = lookups.emplace(std::string(name), 0).first;
  ++counted->second;
  if (onGetServerVariable) onGetServerVariable(counted->first);
  auto it = variables_.find(name);
  if (it == variables_.end()) return false;
  value = it->second;
  return true;
}

bool TestRequest::AddHeaders(const char* text) {
  if (text != nullptr) headers += text;
  return true;
}

bool TestRequest::WriteBody(const char* bytes, DWORD size) {
  if (bytes == nullptr) return false;
  body.append(bytes, size);
  return true;
}

bool TestRequest::SendResponseHeader(const char* status, const char* text) {
  headerSent = true;
  statusLine = status != nullptr ? status : "";
  if (text != nullptr) headers += text;
  return true;
}

TestHost::TestHost(const hosts::FilterLibrary& library) {
  const hosts::FilterLibrary::Entries& entries = library.EntryPoints();
  entry_.getFilterVersion = entries.getFilterVersion;
  entry_.httpFilterProc = entries.httpFilterProc;
  entry_.terminateExtension = entries.terminateExtension;
}

BOOL TestHost::Load(HTTP_FILTER_VERSION* version) {
  HTTP_FILTER_VERSION local{};
  if (version == nullptr) version = &local;
  version->dwServerFilterVersion = 0x00070000;
  return entry_.getFilterVersion(version);
}

DWORD TestHost::Request(TestRequest& request) {
  PreprocHeaders(request);
  return UrlMap(request);
}

DWORD TestHost::UrlMap(TestRequest& request) {
  return entry_.httpFilterProc(request.Context(), SF_NOTIFY_URL_MAP, nullptr);
}

DWORD TestHost::PreprocHeaders(TestRequest& request) {
  return entry_.httpFilterProc(request.Context(), SF_NOTIFY_PREPROC_HEADERS, nullptr);
}

DWORD TestHost::EndOfSession() {
  TestRequest session;
  return entry_.httpFilterProc(session.Context(), SF_NOTIFY_END_OF_NET_SESSION, nullptr);
}

}  // namespace sentrel::testhost
