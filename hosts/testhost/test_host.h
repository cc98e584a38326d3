// A host for tests: builds the filter context of one request from a map of
// server variables and records what the filter does with it (the status line
// and headers it sends, the bytes it writes, the variables it asks for).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "filter/core/isapi.h"

namespace sentrel::testhost {

class TestRequest {
 public:
  explicit TestRequest(std::map<std::string, std::string> variables = {});
  TestRequest(const TestRequest&) = delete;
  TestRequest& operator=(const TestRequest&) = delete;

  HTTP_FILTER_CONTEXT* Context() { return &context_; }

  std::map<std::string, std::string>& Variables() { return variables_; }

  // What the filter sent.
  bool headerSent = false;
  std::string statusLine;
  std::string headers;
  std::string body;
  // Number of GetServerVariable calls per name.
  std::map<std::string, int> lookups;

  // Called before every GetServerVariable answer, with the name asked for;
  // lets a test change variables between calls or raise a fault.
  std::function<void(const std::string&)> onGetServerVariable;

  int LookupsOf(const std::string& name) const;

 private:
  static BOOL SENTREL_WINAPI GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer,
                                               LPDWORD size);
  static BOOL SENTREL_WINAPI AddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR headers, DWORD);
  static BOOL SENTREL_WINAPI WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID buffer, LPDWORD bytes,
                                         DWORD);
  static LPVOID SENTREL_WINAPI AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD size, DWORD);
  static BOOL SENTREL_WINAPI ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, enum SF_REQ_TYPE request,
                                                   PVOID data, ULONG_PTR ul1, ULONG_PTR ul2);
  static TestRequest& Of(HTTP_FILTER_CONTEXT* pfc);

  HTTP_FILTER_CONTEXT context_{};
  std::map<std::string, std::string> variables_;
  std::vector<std::string> allocations_;
};

// The three entry points of a filter, as callables: the exported functions of
// a loaded library or the methods of a filter instance.
struct EntryPoints {
  std::function<BOOL(HTTP_FILTER_VERSION*)> getFilterVersion;
  std::function<DWORD(HTTP_FILTER_CONTEXT*, DWORD, void*)> httpFilterProc;
  std::function<BOOL(DWORD)> terminateExtension;
};

class TestHost {
 public:
  explicit TestHost(EntryPoints entryPoints) : entry_(std::move(entryPoints)) {}

  BOOL Load(HTTP_FILTER_VERSION* version = nullptr);
  BOOL Unload() { return entry_.terminateExtension(0); }

  // Sends the preprocessing-headers and URL-mapping notifications of one
  // request, as the server does; returns the URL-mapping status.
  DWORD Request(TestRequest& request);
  DWORD UrlMap(TestRequest& request);
  DWORD PreprocHeaders(TestRequest& request);
  // An end-of-session notification (a connection closing).
  DWORD EndOfSession();

 private:
  EntryPoints entry_;
};

}  // namespace sentrel::testhost
