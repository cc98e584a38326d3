// The HTTP_FILTER_CONTEXT the module hands to the filter for one notification:
// its callbacks read server variables from Apache's request and connection
// records, collect the status line, headers and body the filter sends, and
// allocate from the connection's pool.
#pragma once

#include <httpd.h>

#include <apr_buckets.h>

#include <string>
#include <string_view>

#include "filter/core/isapi.h"
#include "hosts/common/host_context.h"

namespace sentrel::apache {

// Per-connection data kept between notifications: the filter's own context
// pointer, which it may set in one notification and read in the next.
struct ConnectionState {
  conn_rec* connection = nullptr;
  PVOID filterContext = nullptr;
  bool secure = false;  // TLS on this connection
};

class FilterExchange : public hosts::HostContext {
 public:
  // For a request notification; `state` may be null (the filter context
  // pointer then lives for this request only).
  FilterExchange(request_rec* r, ConnectionState* state, bool secure);
  // For a connection notification (end of session): no request variables.
  explicit FilterExchange(ConnectionState* state);
  ~FilterExchange() override;

  // Whether the filter has sent anything (a status line or body bytes).
  bool Answered() const { return headerSent_ || body_ != nullptr; }

  // Sends what the filter answered, ends the response and marks the
  // connection to close after it. Returns the Apache status to return from
  // the hook (DONE).
  int FinishAnswer();

 protected:
  bool FindVariable(std::string_view name, std::string& scratch, std::string_view& value) override;
  bool SendResponseHeader(const char* status, const char* headers) override;
  bool WriteBody(const char* bytes, DWORD size) override;
  bool AddHeaders(const char* headers) override;
  // Memory from the connection's pool: it lives until the connection ends.
  void* Allocate(DWORD size) override;

 private:
  void Init(bool secure);

  request_rec* request_ = nullptr;
  conn_rec* connection_ = nullptr;
  ConnectionState* state_ = nullptr;
  apr_bucket_brigade* body_ = nullptr;
  bool headerSent_ = false;
};

}  // namespace sentrel::apache
