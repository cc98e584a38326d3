// The HTTP_FILTER_CONTEXT the nginx module hands to the filter for one
// notification. Filter calls run on a thread of nginx's thread pool while the
// request waits, so the callbacks only read the request (nothing else touches
// a waiting request) and collect the filter's answer in memory of their own;
// the event loop sends it when the call has returned.
#pragma once

#include <forward_list>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filter/core/isapi.h"
#include "hosts/common/host_context.h"
#include "hosts/nginx/nginx_headers.h"

namespace sentrel::nginx {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Per client connection, from its accept to its close: the filter's own
// context pointer, which it may set in one notification and read in the next,
// and the memory it allocates for the connection. The streams of one HTTP/2
// connection reach the filter at the same time, hence the lock.
struct ConnectionState {
  ngx_connection_t* connection = nullptr;
  std::mutex lock;
  PVOID filterContext = nullptr;
  std::forward_list<std::string> allocations;
  bool secure = false;
  // The last request's SERVER_NAME, and the connection's own addresses as
  // they were when it closed: what the end-of-session notification reports.
  std::string serverName;
  std::string remoteAddr;
  std::string remotePort;
  std::string localAddr;
  std::string localPort;
};

// What the filter answered a request.
struct Answer {
  bool headerSent = false;
  bool bodyWritten = false;
  std::string badStatus;  // an unusable status line the filter sent
  int code = 200;
  std::string statusLine;
  HeaderList headers;  // given with the status line
  HeaderList added;    // AddResponseHeaders: for whatever answer goes out
  std::string body;

  bool Answered() const { return headerSent || bodyWritten; }
};

class FilterExchange : public hosts::HostContext {
 public:
  // For a request notification; `state` may be null (the filter context
  // pointer then lives for this request only).
  FilterExchange(ngx_http_request_t* r, ConnectionState* state, bool secure, Answer& answer);
  // For the end-of-session notification: no request variables.
  explicit FilterExchange(ConnectionState* state);
  ~FilterExchange() override;

 protected:
  bool FindVariable(std::string_view name, std::string& scratch, std::string_view& value) override;
  bool SendResponseHeader(const char* status, const char* headers) override;
  bool WriteBody(const char* bytes, DWORD size) override;
  bool AddHeaders(const char* headers) override;
  // Memory that lives as long as the connection.
  void* Allocate(DWORD size) override;

 private:
  ngx_http_request_t* request_ = nullptr;
  ConnectionState* state_ = nullptr;
  Answer* answer_ = nullptr;
};

// The text of an nginx string (empty for a null one).
inline std::string_view View(const ngx_str_t& s) {
  return s.data != nullptr ? std::string_view(reinterpret_cast<const char*>(s.data), s.len)
                           : std::string_view();
}

// SERVER_NAME of a request: the host the client asked for, else the name of
// the server block.
std::string_view RequestServerName(ngx_http_request_t* r);

// A socket address as text, and its port as text.
std::string AddressText(sockaddr* address, socklen_t length);
std::string PortText(sockaddr* address);

}  // namespace sentrel::nginx
