// Lines of a web server's access log in the common or the combined log format
// (the default formats of Apache httpd and nginx):
//
//   host ident user [10/Oct/2000:13:55:36 -0700] "GET /a?b=1 HTTP/1.1" 200 2326
//   ... followed, in the combined format, by "referer" "user agent"
//
// Quoted fields are unescaped as the servers escape them (\" \\ \xHH and the
// C escapes), so the fields come back as the bytes the client sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hosts/common/url_path.h"

namespace sentrel::replay {

struct AccessLogEntry {
  std::string address;      // the client's address, as logged (IPv6 and names included)
  std::string timeText;     // the time as written between the brackets
  std::int64_t time = 0;    // seconds since 1970, UTC
  std::int32_t utcOffset = 0;  // the log's offset from UTC, seconds east
  std::string method;
  std::string url;          // the path as servers report URL (see UrlVariable)
  std::string queryString;  // after the first "?", as sent; empty without one
  std::string protocol;     // empty when the request line has none
  int status = 0;           // 0 when logged as "-"
  std::optional<std::string> referer;    // absent when not logged or "-"
  std::optional<std::string> userAgent;  // absent when not logged or "-"
};

// Parses one line (its line end already removed or not). On failure returns
// false and says why in `reason`.
bool ParseAccessLogLine(std::string_view line, AccessLogEntry& entry, std::string& reason);

// The parts of a time as "dd/Mon/yyyy:HH:MM:SS +hhmm" to seconds since 1970
// UTC and the offset; false when the text is not such a time.
bool ParseLogTime(std::string_view text, std::int64_t& utc, std::int32_t& utcOffset);

// A time in the log's own form, "10/Oct/2000:13:55:36 -0700", at an offset.
std::string FormatLogTime(std::int64_t utc, std::int32_t utcOffset);

// A time as ISO 8601 in UTC, "2000-10-10T20:55:36Z".
std::string FormatIsoTime(std::int64_t utc);

using hosts::DecodeUrlPath;
using hosts::NormalizeUrlPath;

// The URL variable the server reports for a raw request path: decoded, then
// normalized, so rules see the path that is served ("/a/../admin/" is
// "/admin/").
std::string UrlVariable(std::string_view rawPath);

}  // namespace sentrel::replay
