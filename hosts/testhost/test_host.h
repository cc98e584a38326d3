// A host for tests, tools and benchmarks: builds the filter context of one
// request from a map of server variables and records what the filter does
// with it (the status line and headers it sends, the bytes it writes, the
// variables it asks for). The context itself, with its callbacks and the
// buffer contract of GetServerVariable, is the host kit's, as in the servers.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "filter/core/isapi.h"
#include "hosts/common/filter_library.h"
#include "hosts/common/host_context.h"

namespace sentrel::testhost {

class TestRequest : public hosts::HostContext {
 public:
  explicit TestRequest(std::map<std::string, std::string> variables = {});

  // Looked up by views, without a key string per call.
  using VariableMap = std::map<std::string, std::string, std::less<>>;
  VariableMap& Variables() { return variables_; }

  // What the filter sent.
  bool headerSent = false;
  std::string statusLine;
  std::string headers;
  std::string body;
  // Number of GetServerVariable calls per name.
  std::map<std::string, int, std::less<>> lookups;

  // Called before every GetServerVariable answer, with the name asked for;
  // lets a test change variables between calls or raise a fault.
  std::function<void(const std::string&)> onGetServerVariable;

  int LookupsOf(const std::string& name) const;

 protected:
  // Names match exactly as written (the servers match without regard to
  // case; the filter always asks in upper case).
  bool FindVariable(std::string_view name, std::string& scratch, std::string_view& value) override;
  bool SendResponseHeader(const char* status, const char* headers) override;
  bool WriteBody(const char* bytes, DWORD size) override;
  bool AddHeaders(const char* headers) override;

 private:
  VariableMap variables_;
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
  // The entry points of an open filter library.
  explicit TestHost(const hosts::FilterLibrary& library);

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
