// The server variables every host offers a filter: their names, what each
// one holds, and the buffer contract of GetServerVariable. Shared by the
// hosts, so that each presents the same request to the filter.
#pragma once

#include <string>
#include <string_view>

#include "filter/core/isapi.h"
#include "hosts/common/url_path.h"

namespace sentrel::hosts {

// The server variables the host offers.
enum class Variable {
  Unknown,
  RemoteAddr,     // REMOTE_ADDR: the client address (after the server's real-IP handling)
  RemotePort,     // REMOTE_PORT
  LocalAddr,      // LOCAL_ADDR: the server address the connection came in on
  ServerName,     // SERVER_NAME
  ServerPort,     // SERVER_PORT
  ServerProtocol, // SERVER_PROTOCOL, for example HTTP/1.1
  Https,          // HTTPS: "on" or "off"
  RequestMethod,  // REQUEST_METHOD
  Url,            // URL: the path, percent-decoded, without the query string
  QueryString,    // QUERY_STRING: the raw query string, empty when absent
  ContentType,    // CONTENT_TYPE: empty when the request has none
  ContentLength,  // CONTENT_LENGTH: "0" when the request has none
  AllHttp,        // ALL_HTTP: every request header as HTTP_NAME:value lines
  Header,         // HTTP_<NAME>: one request header
};

struct VariableName {
  Variable kind = Variable::Unknown;
  // For Variable::Header: the header's name as it is looked up, with every
  // "_" of the variable name turned into "-" (header names match without
  // regard to case).
  std::string header;
};

// Resolves a server-variable name, without regard to case. Returns false for
// a name the host does not know.
bool ResolveVariable(std::string_view name, VariableName& out);

// The variable name of a request header: "HTTP_" + the name upper-cased with
// every "-" turned into "_". A header whose name holds anything but letters,
// digits and "-" has no variable (so that "User_Agent" cannot pose as
// "User-Agent"); the function then returns false.
bool HeaderVariableName(std::string_view header, std::string& out);

// Appends one ALL_HTTP line, "HTTP_NAME:value" and a line feed, for a header
// that has a variable name; does nothing for one that has none.
void AppendAllHttpLine(std::string& out, std::string_view header, std::string_view value);

// Why a GetServerVariable call failed; the host also stores it in errno
// (ENOENT, ENOBUFS, EINVAL).
enum class CopyResult { Copied, NoSuchVariable, BufferTooSmall, InvalidArgument };

// The buffer contract of GetServerVariable: the value and its terminating zero
// must fit the caller's buffer, whose capacity is *size on entry. On success
// the value is copied, *size is set to the bytes copied (terminator included)
// and the result is Copied. When it does not fit (or buffer is null), nothing
// is copied, *size is set to the size needed and the result is BufferTooSmall.
CopyResult CopyVariableValue(std::string_view value, void* buffer, DWORD* size);

// The value of the URL variable for a raw request path: decoded, then
// normalized.
std::string UrlVariable(std::string_view rawPath);

}  // namespace sentrel::hosts
