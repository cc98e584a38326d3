#include "hosts/nginx/nginx_exchange.h"

#include <strings.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "hosts/common/filter_answers.h"
#include "hosts/common/server_variables.h"

namespace sentrel::nginx {

using hosts::Variable;

namespace {

bool Fail(int error) {
  errno = error;
  return false;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Calls `visit(name, value)` for every request header, in the order the
// client sent them.
template <typename Visit>
void ForEachHeader(ngx_http_request_t* r, Visit visit) {
  for (ngx_list_part_t* part = &r->headers_in.headers.part; part != nullptr; part = part->next) {
    const auto* headers = static_cast<const ngx_table_elt_t*>(part->elts);
    for (ngx_uint_t i = 0; i < part->nelts; ++i) {
      if (headers[i].hash == 0) continue;  // removed by a module
      visit(View(headers[i].key), View(headers[i].value));
    }
  }
}

// A repeated header reads as one, its values joined by ", " in the order
// sent, as the other hosts present it.
HeaderList MergedHeaders(ngx_http_request_t* r) {
  HeaderList merged;
  ForEachHeader(r, [&](std::string_view name, std::string_view value) {
    for (auto& [known, values] : merged) {
      if (SameName(known, name)) {
        values.append(", ").append(value);
        return;
      }
    }
    merged.emplace_back(std::string(name), std::string(value));
  });
  return merged;
}

// A header sent once is read in place; a repeated one is joined in `joined`.
bool FindHeader(ngx_http_request_t* r, std::string_view name, std::string& joined, std::string_view& out) {
  int found = 0;
  ForEachHeader(r, [&](std::string_view key, std::string_view value) {
    if (!SameName(key, name)) return;
    if (found == 0) {
      out = value;
    } else {
      if (found == 1) joined.assign(out);
      joined.append(", ").append(value);
    }
    ++found;
  });
  if (found > 1) out = joined;
  return found != 0;
}

// The request path as the client sent it: the unparsed URI without its query.
std::string_view RawPath(ngx_http_request_t* r) {
  std::string_view uri = View(r->unparsed_uri);
  if (uri.empty()) uri = View(r->uri);
  return uri.substr(0, uri.find('?'));
}

}  // namespace

std::string_view RequestServerName(ngx_http_request_t* r) {
  if (r->headers_in.server.len != 0) return View(r->headers_in.server);
  auto* core = static_cast<ngx_http_core_srv_conf_t*>(ngx_http_get_module_srv_conf(r, ngx_http_core_module));
  return core != nullptr ? View(core->server_name) : std::string_view();
}

std::string AddressText(sockaddr* address, socklen_t length) {
  if (address == nullptr) return {};
  u_char text[NGX_SOCKADDR_STRLEN];
  size_t size = ngx_sock_ntop(address, length, text, sizeof text, 0);
  return std::string(reinterpret_cast<const char*>(text), size);
}

std::string PortText(sockaddr* address) {
  return address != nullptr ? std::to_string(ngx_inet_get_port(address)) : std::string();
}

FilterExchange::FilterExchange(ngx_http_request_t* r, ConnectionState* state, bool secure, Answer& answer)
    : request_(r), state_(state), answer_(&answer) {
  if (state_ != nullptr) {
    std::lock_guard<std::mutex> guard(state_->lock);
    context_.pFilterContext = state_->filterContext;
  }
  context_.fIsSecurePort = secure ? TRUE : FALSE;
}

FilterExchange::FilterExchange(ConnectionState* state) : state_(state) {
  context_.pFilterContext = state_->filterContext;
  context_.fIsSecurePort = state_->secure ? TRUE : FALSE;
}

FilterExchange::~FilterExchange() {
  if (state_ == nullptr) return;
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->filterContext = context_.pFilterContext;
}

bool FilterExchange::FindVariable(std::string_view name, std::string& owned, std::string_view& value) {
  hosts::VariableName variable;
  if (!hosts::ResolveVariable(name, variable)) return false;

  ngx_http_request_t* r = request_;
  ngx_connection_t* c = r != nullptr ? r->connection : nullptr;
  bool found = true;
  switch (variable.kind) {
    case Variable::RemoteAddr:
      value = c != nullptr ? View(c->addr_text) : std::string_view(state_->remoteAddr);
      break;
    case Variable::RemotePort:
      if (c != nullptr) {
        owned = PortText(c->sockaddr);
        value = owned;
      } else {
        value = state_->remotePort;
      }
      break;
    case Variable::LocalAddr:
      if (c != nullptr) {
        owned = AddressText(c->local_sockaddr, c->local_socklen);
        value = owned;
      } else {
        value = state_->localAddr;
      }
      break;
    case Variable::ServerName:
      value = r != nullptr ? RequestServerName(r) : std::string_view(state_->serverName);
      break;
    case Variable::ServerPort:
      if (c != nullptr) {
        owned = PortText(c->local_sockaddr);
        value = owned;
      } else {
        value = state_->localPort;
      }
      break;
    case Variable::Https:
      value = context_.fIsSecurePort ? "on" : "off";
      break;
    case Variable::ServerProtocol:
      found = r != nullptr && r->http_protocol.data != nullptr;
      if (found) value = View(r->http_protocol);
      break;
    case Variable::RequestMethod:
      found = r != nullptr;
      if (found) value = View(r->method_name);
      break;
    case Variable::Url:
      found = r != nullptr;
      if (found) {
        owned = hosts::UrlVariable(RawPath(r));
        value = owned;
      }
      break;
    case Variable::QueryString:
      found = r != nullptr;
      if (found) value = View(r->args);
      break;
    case Variable::ContentType:
      found = r != nullptr;
      if (found && r->headers_in.content_type != nullptr) value = View(r->headers_in.content_type->value);
      break;
    case Variable::ContentLength:
      found = r != nullptr;
      if (found) {
        value = r->headers_in.content_length != nullptr ? View(r->headers_in.content_length->value)
                                                        : std::string_view("0");
      }
      break;
    case Variable::AllHttp:
      found = r != nullptr;
      if (found) {
        for (const auto& [header, values] : MergedHeaders(r)) hosts::AppendAllHttpLine(owned, header, values);
        value = owned;
      }
      break;
    case Variable::Header:
      found = r != nullptr && FindHeader(r, variable.header, owned, value);
      break;
    case Variable::Unknown:
      found = false;
      break;
  }
  return found;
}

bool FilterExchange::AddHeaders(const char* headers) {
  if (answer_ == nullptr) return Fail(EINVAL);
  for (auto& header : hosts::ParseHeaderLines(headers)) answer_->added.push_back(std::move(header));
  return true;
}

bool FilterExchange::WriteBody(const char* bytes, DWORD size) {
  if (answer_ == nullptr) return Fail(EINVAL);
  answer_->bodyWritten = true;
  answer_->body.append(bytes, size);
  return true;
}

void* FilterExchange::Allocate(DWORD size) {
  if (state_ == nullptr) return HostContext::Allocate(size);
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->allocations.emplace_front(size != 0 ? size : 1, '\0');
  return state_->allocations.front().data();
}

bool FilterExchange::SendResponseHeader(const char* status, const char* headers) {
  if (answer_ == nullptr) return Fail(EINVAL);
  answer_->headerSent = true;
  hosts::StatusText parsed;
  if (!hosts::ParseStatusText(status, parsed)) {
    answer_->badStatus = status != nullptr ? status : "";
    answer_->code = NGX_HTTP_INTERNAL_SERVER_ERROR;
    answer_->statusLine.clear();
    return Fail(EINVAL);
  }
  answer_->code = parsed.code;
  answer_->statusLine = std::move(parsed.line);
  for (auto& header : hosts::ParseHeaderLines(headers)) answer_->headers.push_back(std::move(header));
  return true;
}

}  // namespace sentrel::nginx
