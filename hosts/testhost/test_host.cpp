#include "hosts/testhost/test_host.h"

#include <cstring>

namespace sentrel::testhost {

TestRequest::TestRequest(std::map<std::string, std::string> variables)
    : variables_(std::move(variables)) {
  context_.cbSize = sizeof(HTTP_FILTER_CONTEXT);
  context_.Revision = 0x00070000;
  context_.ServerContext = this;
  context_.GetServerVariable = &TestRequest::GetServerVariable;
  context_.AddResponseHeaders = &TestRequest::AddResponseHeaders;
  context_.WriteClient = &TestRequest::WriteClient;
  context_.AllocMem = &TestRequest::AllocMem;
  context_.ServerSupportFunction = &TestRequest::ServerSupportFunction;
}

TestRequest& TestRequest::Of(HTTP_FILTER_CONTEXT* pfc) {
  return *static_cast<TestRequest*>(pfc->ServerContext);
}

int TestRequest::LookupsOf(const std::string& name) const {
  auto it = lookups.find(name);
  return it == lookups.end() ? 0 : it->second;
}

// As the server does it: the value with its terminating zero must fit the
// caller's buffer; otherwise the call fails and reports the size needed.
BOOL SENTREL_WINAPI TestRequest::GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                                   LPVOID buffer, LPDWORD size) {
  TestRequest& self = Of(pfc);
  std::string key = name != nullptr ? name : "";
  self.lookups[key]++;
  if (self.onGetServerVariable) self.onGetServerVariable(key);
  auto it = self.variables_.find(key);
  if (it == self.variables_.end() || size == nullptr) return FALSE;
  DWORD needed = static_cast<DWORD>(it->second.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    return FALSE;
  }
  std::memcpy(buffer, it->second.c_str(), needed);
  *size = needed;
  return TRUE;
}

BOOL SENTREL_WINAPI TestRequest::AddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR headers, DWORD) {
  if (headers != nullptr) Of(pfc).headers += headers;
  return TRUE;
}

BOOL SENTREL_WINAPI TestRequest::WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID buffer, LPDWORD bytes,
                                             DWORD) {
  if (buffer == nullptr || bytes == nullptr) return FALSE;
  Of(pfc).body.append(static_cast<const char*>(buffer), *bytes);
  return TRUE;
}

LPVOID SENTREL_WINAPI TestRequest::AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD size, DWORD) {
  auto& store = Of(pfc).allocations_;
  store.emplace_back(size, '\0');
  return store.back().data();
}

BOOL SENTREL_WINAPI TestRequest::ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc,
                                                       enum SF_REQ_TYPE request, PVOID data,
                                                       ULONG_PTR ul1, ULONG_PTR) {
  TestRequest& self = Of(pfc);
  if (request != SF_REQ_SEND_RESPONSE_HEADER) return FALSE;
  self.headerSent = true;
  self.statusLine = data != nullptr ? static_cast<const char*>(data) : "";
  if (ul1 != 0) self.headers += reinterpret_cast<const char*>(ul1);
  return TRUE;
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
