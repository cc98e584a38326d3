#include "hosts/apache/filter_context.h"

#include <http_config.h>
#include <http_core.h>
#include <http_log.h>
#include <http_protocol.h>

#include <apr_strings.h>
#include <strings.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <string_view>

#include "hosts/apache/isapi_bridge.h"

APLOG_USE_MODULE(sentrel);

namespace sentrel::apache {

namespace {

std::atomic<bool> badStatusLogged{false};

BOOL Fail(int error) {
  errno = error;
  return FALSE;
}

std::string PortText(const apr_sockaddr_t* addr) {
  return addr != nullptr ? std::to_string(addr->port) : std::string();
}

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Adds "Name: value" lines to a header table; a Content-Type line sets the
// response's content type, Content-Length is left to Apache.
void AddHeaders(request_rec* r, apr_table_t* table, const char* text) {
  for (const auto& [name, value] : ParseHeaderLines(text)) {
    if (strcasecmp(name.c_str(), "Content-Length") == 0) continue;
    if (strcasecmp(name.c_str(), "Content-Type") == 0) {
      ap_set_content_type(r, apr_pstrmemdup(r->pool, value.data(), value.size()));
      continue;
    }
    apr_table_add(table, name.c_str(), value.c_str());
  }
}

}  // namespace

FilterExchange::FilterExchange(request_rec* r, ConnectionState* state, bool secure)
    : request_(r), connection_(r->connection), state_(state) {
  Init();
  context_.fIsSecurePort = secure ? TRUE : FALSE;
}

FilterExchange::FilterExchange(ConnectionState* state)
    : connection_(state->connection), state_(state) {
  Init();
  context_.fIsSecurePort = state->secure ? TRUE : FALSE;
}

FilterExchange::~FilterExchange() {
  if (state_ != nullptr) state_->filterContext = context_.pFilterContext;
}

void FilterExchange::Init() {
  context_.cbSize = sizeof(HTTP_FILTER_CONTEXT);
  context_.Revision = 0x00070000;
  context_.ServerContext = this;
  context_.pFilterContext = state_ != nullptr ? state_->filterContext : nullptr;
  context_.GetServerVariable = &FilterExchange::GetServerVariable;
  context_.AddResponseHeaders = &FilterExchange::AddResponseHeaders;
  context_.WriteClient = &FilterExchange::WriteClient;
  context_.AllocMem = &FilterExchange::AllocMem;
  context_.ServerSupportFunction = &FilterExchange::ServerSupportFunction;
}

FilterExchange& FilterExchange::Of(HTTP_FILTER_CONTEXT* pfc) {
  return *static_cast<FilterExchange*>(pfc->ServerContext);
}

BOOL SENTREL_WINAPI FilterExchange::GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                                      LPVOID buffer, LPDWORD size) {
  if (pfc == nullptr || name == nullptr || size == nullptr) return Fail(EINVAL);
  FilterExchange& self = Of(pfc);
  VariableName variable;
  if (!ResolveVariable(name, variable)) return Fail(ENOENT);

  request_rec* r = self.request_;
  conn_rec* c = self.connection_;
  std::string owned;
  std::string_view value;
  bool found = true;
  switch (variable.kind) {
    case Variable::RemoteAddr:
      value = OrEmpty(r != nullptr ? r->useragent_ip : c->client_ip);
      break;
    case Variable::RemotePort:
      owned = PortText(r != nullptr && r->useragent_addr != nullptr ? r->useragent_addr
                                                                     : c->client_addr);
      value = owned;
      break;
    case Variable::LocalAddr:
      value = OrEmpty(c->local_ip);
      break;
    case Variable::ServerName:
      if (r != nullptr) {
        value = OrEmpty(ap_get_server_name(r));
      } else {
        value = OrEmpty(c->base_server != nullptr ? c->base_server->server_hostname : nullptr);
      }
      break;
    case Variable::ServerPort:
      owned = r != nullptr ? std::to_string(ap_get_server_port(r)) : PortText(c->local_addr);
      value = owned;
      break;
    case Variable::Https:
      value = pfc->fIsSecurePort ? "on" : "off";
      break;
    case Variable::ServerProtocol:
      found = r != nullptr && r->protocol != nullptr;
      if (found) value = r->protocol;
      break;
    case Variable::RequestMethod:
      found = r != nullptr && r->method != nullptr;
      if (found) value = r->method;
      break;
    case Variable::Url:
      found = r != nullptr;
      if (found) {
        owned = UrlVariable(OrEmpty(r->uri));
        value = owned;
      }
      break;
    case Variable::QueryString:
      found = r != nullptr;
      if (found) value = OrEmpty(r->args);
      break;
    case Variable::ContentType:
      found = r != nullptr;
      if (found) value = OrEmpty(apr_table_get(r->headers_in, "Content-Type"));
      break;
    case Variable::ContentLength:
      found = r != nullptr;
      if (found) {
        const char* length = apr_table_get(r->headers_in, "Content-Length");
        value = length != nullptr ? length : "0";
      }
      break;
    case Variable::AllHttp:
      found = r != nullptr;
      if (found) {
        const apr_array_header_t* headers = apr_table_elts(r->headers_in);
        const auto* entries = reinterpret_cast<const apr_table_entry_t*>(headers->elts);
        for (int i = 0; i < headers->nelts; ++i) {
          if (entries[i].key == nullptr) continue;
          AppendAllHttpLine(owned, entries[i].key, OrEmpty(entries[i].val));
        }
        value = owned;
      }
      break;
    case Variable::Header: {
      const char* header =
          r != nullptr ? apr_table_get(r->headers_in, variable.header.c_str()) : nullptr;
      found = header != nullptr;
      if (found) value = header;
      break;
    }
    case Variable::Unknown:
      found = false;
      break;
  }
  if (!found) return Fail(ENOENT);
  switch (CopyVariableValue(value, buffer, size)) {
    case CopyResult::Copied:
      return TRUE;
    case CopyResult::BufferTooSmall:
      return Fail(ENOBUFS);
    default:
      return Fail(EINVAL);
  }
}

BOOL SENTREL_WINAPI FilterExchange::AddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR headers,
                                                       DWORD) {
  if (pfc == nullptr) return Fail(EINVAL);
  FilterExchange& self = Of(pfc);
  if (self.request_ == nullptr) return Fail(EINVAL);
  AddHeaders(self.request_, self.request_->err_headers_out, headers);
  return TRUE;
}

BOOL SENTREL_WINAPI FilterExchange::WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID buffer,
                                                LPDWORD bytes, DWORD) {
  if (pfc == nullptr || bytes == nullptr || (buffer == nullptr && *bytes != 0)) return Fail(EINVAL);
  FilterExchange& self = Of(pfc);
  request_rec* r = self.request_;
  if (r == nullptr) return Fail(EINVAL);
  if (self.body_ == nullptr) {
    self.body_ = apr_brigade_create(r->pool, self.connection_->bucket_alloc);
  }
  if (*bytes == 0) return TRUE;
  if (apr_brigade_write(self.body_, nullptr, nullptr, static_cast<const char*>(buffer), *bytes) !=
      APR_SUCCESS) {
    return Fail(EIO);
  }
  return TRUE;
}

LPVOID SENTREL_WINAPI FilterExchange::AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD size, DWORD) {
  if (pfc == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  FilterExchange& self = Of(pfc);
  // Memory lives until the connection ends, as the filter interface promises.
  apr_pool_t* pool = self.connection_->pool;
  return apr_pcalloc(pool, size != 0 ? size : 1);
}

BOOL SENTREL_WINAPI FilterExchange::ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc,
                                                          enum SF_REQ_TYPE request, PVOID data,
                                                          ULONG_PTR ul1, ULONG_PTR) {
  if (pfc == nullptr) return Fail(EINVAL);
  FilterExchange& self = Of(pfc);
  if (request != SF_REQ_SEND_RESPONSE_HEADER) return Fail(ENOTSUP);
  return self.SendResponseHeader(static_cast<const char*>(data),
                                 reinterpret_cast<const char*>(ul1));
}

BOOL FilterExchange::SendResponseHeader(const char* status, const char* headers) {
  request_rec* r = request_;
  if (r == nullptr) return Fail(EINVAL);
  StatusText parsed;
  if (!ParseStatusText(status, parsed)) {
    if (!badStatusLogged.exchange(true)) {
      ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                    "the filter sent an unusable status line \"%s\" (it must start with a "
                    "three-digit code); the answer goes out with status 500",
                    status);
    }
    r->status = HTTP_INTERNAL_SERVER_ERROR;
    r->status_line = nullptr;
    headerSent_ = true;
    return Fail(EINVAL);
  }
  r->status = parsed.code;
  r->status_line = apr_pstrmemdup(r->pool, parsed.line.data(), parsed.line.size());
  AddHeaders(r, r->headers_out, headers);
  headerSent_ = true;
  return TRUE;
}

int FilterExchange::FinishAnswer() {
  request_rec* r = request_;
  conn_rec* c = connection_;
  // The filter's answer ends the session, as it does on the filter's native
  // server: the client gets "Connection: close" and the connection closes.
  c->keepalive = AP_CONN_CLOSE;
  if (!headerSent_) {
    r->status = HTTP_OK;
    r->status_line = nullptr;
  }
  apr_bucket_brigade* bb = body_ != nullptr ? body_ : apr_brigade_create(r->pool, c->bucket_alloc);
  APR_BRIGADE_INSERT_TAIL(bb, apr_bucket_eos_create(c->bucket_alloc));
  apr_status_t rv = ap_pass_brigade(r->output_filters, bb);
  if (rv != APR_SUCCESS) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, rv, r, "sending the filter's answer failed");
  }
  apr_brigade_cleanup(bb);
  body_ = nullptr;
  return DONE;
}

}  // namespace sentrel::apache
