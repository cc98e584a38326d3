// The HTTP_FILTER_CONTEXT the module hands to the filter for one notification:
// its callbacks read server variables from Apache's request and connection
// records, collect the status line, headers and body the filter sends, and
// allocate from the connection's pool.
#pragma once

#include <httpd.h>

#include <apr_buckets.h>

#include "filter/core/isapi.h"

namespace sentrel::apache {

// Per-connection data kept between notifications: the filter's own context
// pointer, which it may set in one notification and read in the next.
struct ConnectionState {
  conn_rec* connection = nullptr;
  PVOID filterContext = nullptr;
  bool secure = false;  // TLS on this connection
};

class FilterExchange {
 public:
  // For a request notification; `state` may be null (the filter context
  // pointer then lives for this request only).
  FilterExchange(request_rec* r, ConnectionState* state, bool secure);
  // For a connection notification (end of session): no request variables.
  explicit FilterExchange(ConnectionState* state);
  ~FilterExchange();
  FilterExchange(const FilterExchange&) = delete;
  FilterExchange& operator=(const FilterExchange&) = delete;

  HTTP_FILTER_CONTEXT* Context() { return &context_; }

  // Whether the filter has sent anything (a status line or body bytes).
  bool Answered() const { return headerSent_ || body_ != nullptr; }

  // Sends what the filter answered, ends the response and marks the
  // connection to close after it. Returns the Apache status to return from
  // the hook (DONE).
  int FinishAnswer();

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
  static FilterExchange& Of(HTTP_FILTER_CONTEXT* pfc);

  void Init();
  BOOL SendResponseHeader(const char* status, const char* headers);

  HTTP_FILTER_CONTEXT context_{};
  request_rec* request_ = nullptr;
  conn_rec* connection_ = nullptr;
  ConnectionState* state_ = nullptr;
  apr_bucket_brigade* body_ = nullptr;
  bool headerSent_ = false;
};

}  // namespace sentrel::apache
