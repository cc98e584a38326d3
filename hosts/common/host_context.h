// The HTTP_FILTER_CONTEXT a host hands to the filter for one notification.
// The record, its callbacks and the contracts the filter relies on (the
// buffer contract of GetServerVariable, the texts of the response header,
// memory that lives as long as the connection) are kept here once; a host
// derives from HostContext and says only where variables come from and where
// the answer goes.
#pragma once

#include <forward_list>
#include <string>
#include <string_view>

#include "filter/core/isapi.h"

namespace sentrel::hosts {

class HostContext {
 public:
  HostContext();
  virtual ~HostContext() = default;
  HostContext(const HostContext&) = delete;
  HostContext& operator=(const HostContext&) = delete;

  HTTP_FILTER_CONTEXT* Context() { return &context_; }

 protected:
  // The value of the server variable `name` (as the filter wrote it). Returns
  // false when the host has no such variable. A value the host builds for the
  // call goes into `scratch`, and `value` then views it.
  virtual bool FindVariable(std::string_view name, std::string& scratch, std::string_view& value) = 0;
  // SF_REQ_SEND_RESPONSE_HEADER: the status text (null or empty means
  // "200 OK") and header lines, as the filter handed them over.
  virtual bool SendResponseHeader(const char* status, const char* headers) = 0;
  // Bytes for the client; `size` may be 0.
  virtual bool WriteBody(const char* bytes, DWORD size) = 0;
  // Header lines to add to the server's own response.
  virtual bool AddHeaders(const char* headers) = 0;
  // Memory for the filter that lives until the connection ends. The default
  // keeps it with this context, which suits hosts whose context lives as long.
  virtual void* Allocate(DWORD size);

  HTTP_FILTER_CONTEXT context_{};

 private:
  static BOOL SENTREL_WINAPI GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer,
                                               LPDWORD size);
  static BOOL SENTREL_WINAPI AddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR headers,
                                                DWORD reserved);
  static BOOL SENTREL_WINAPI WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID buffer, LPDWORD bytes,
                                         DWORD reserved);
  static LPVOID SENTREL_WINAPI AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD size, DWORD reserved);
  static BOOL SENTREL_WINAPI ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, enum SF_REQ_TYPE request,
                                                   PVOID data, ULONG_PTR ul1, ULONG_PTR ul2);
  static HostContext* Of(HTTP_FILTER_CONTEXT* pfc);

  // Blocks the filter allocated for this exchange; a list, which costs
  // nothing while empty and never moves what it holds.
  std::forward_list<std::string> allocations_;
};

}  // namespace sentrel::hosts
