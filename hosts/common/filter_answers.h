// What a filter hands back to its host: the status line and header texts it
// sends with SF_REQ_SEND_RESPONSE_HEADER, the status codes HttpFilterProc
// returns, and the notifications it registered for.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "filter/core/isapi.h"

namespace sentrel::hosts {

// The status text a filter hands to SF_REQ_SEND_RESPONSE_HEADER, such as
// "404 Object Not Found": a three-digit code from 100 to 999, then a blank and
// the reason, or the code alone. A null or empty text means "200 OK".
struct StatusText {
  int code = 200;
  std::string line = "200 OK";
};
bool ParseStatusText(const char* text, StatusText& out);

// Header lines as a filter hands them over ("Name: value", each ended by CR LF
// or LF; an empty line ends the list). Lines without a name and a colon are
// skipped; blanks around the value are dropped.
std::vector<std::pair<std::string, std::string>> ParseHeaderLines(const char* text);

// What the host does with a filter's status code.
enum class Outcome {
  Continue,  // pass the request on to the server
  Finished,  // the filter has answered; end the request with what it sent
  Error,     // the filter reports an error: the request fails (500)
};
Outcome ClassifyStatus(DWORD status);

// Whether a filter that registered `flags` wants notification `type` for a
// connection on a secure (TLS) or plain port. A filter that names neither
// port kind gets both.
bool WantsNotification(DWORD flags, DWORD type, bool secure);

}  // namespace sentrel::hosts
