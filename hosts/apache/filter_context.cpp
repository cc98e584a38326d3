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

#include "hosts/common/filter_answers.h"
#include "hosts/common/server_variables.h"

APLOG_USE_MODULE(sentrel);

namespace sentrel::apache {

using hosts::ParseHeaderLines;
using hosts::StatusText;
using hosts::Variable;

namespace {

std::atomic<bool> badStatusLogged{false};

bool Fail(int error) {
  errno = error;
  return false;
}

std::string PortText(const apr_sockaddr_t* addr) {
  return addr != nullptr ? std::to_string(addr->port) : std::string();
}

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Adds "Name: value" lines to a header table; a Content-Type line sets the
// response's content type, Content-Length is left to Apache.
void AddHeaderLines(request_rec* r, apr_table_t* table, const char* text) {
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
  Init(secure);
}

FilterExchange::FilterExchange(ConnectionState* state)
    : connection_(state->connection), state_(state) {
  Init(state->secure);
}

FilterExchange::~FilterExchange() {
  if (state_ != nullptr) state_->filterContext = context_.pFilterContext;
}

void FilterExchange::Init(bool secure) {
  context_.pFilterContext = state_ != nullptr ? state_->filterContext : nullptr;
  context_.fIsSecurePort = secure ? TRUE : FALSE;
}

bool FilterExchange::FindVariable(std::string_view name, std::string& owned, std::string_view& value) {
  hosts::VariableName variable;
  if (!hosts::ResolveVariable(name, variable)) return false;

  request_rec* r = request_;
  conn_rec* c = connection_;
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
      value = context_.fIsSecurePort ? "on" : "off";
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
        owned = hosts::UrlVariable(OrEmpty(r->uri));
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
          hosts::AppendAllHttpLine(owned, entries[i].key, OrEmpty(entries[i].val));
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
  return found;
}

bool FilterExchange::AddHeaders(const char* headers) {
  if (request_ == nullptr) return Fail(EINVAL);
  AddHeaderLines(request_, request_->err_headers_out, headers);
  return true;
}

bool FilterExchange::WriteBody(const char* bytes, DWORD size) {
  request_rec* r = request_;
  if (r == nullptr) return Fail(EINVAL);
  if (body_ == nullptr) body_ = apr_brigade_create(r->pool, connection_->bucket_alloc);
  if (size == 0) return true;
  if (apr_brigade_write(body_, nullptr, nullptr, bytes, size) != APR_SUCCESS) return Fail(EIO);
  return true;
}

void* FilterExchange::Allocate(DWORD size) {
  return apr_pcalloc(connection_->pool, size != 0 ? size : 1);
}

bool FilterExchange::SendResponseHeader(const char* status, const char* headers) {
  request_rec* r = request_;
  if (r == nullptr) return Fail(EINVAL);
  StatusText parsed;
  if (!hosts::ParseStatusText(status, parsed)) {
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
  AddHeaderLines(r, r->headers_out, headers);
  headerSent_ = true;
  return true;
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
