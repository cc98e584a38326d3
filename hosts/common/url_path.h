// How a web server turns the raw path of a request into the URL it reports:
// %XX escapes decoded, then "." and ".." segments and repeated slashes
// resolved. Shared by the Apache module, which reports it to the filter, and
// by the replay tool, which has to see the same URL for a logged request.
#pragma once

#include <string>
#include <string_view>

namespace sentrel::hosts {

// The value of a hexadecimal digit, or -1 for any other byte.
int HexDigitValue(char c);

// Decodes %XX escapes of a URL path. A "%" not followed by two hexadecimal
// digits, and an escaped zero byte, stay as written.
std::string DecodeUrlPath(std::string_view raw);

// Resolves "." and ".." segments and merges repeated slashes of a decoded
// path, as the server does before it maps the path to a file, so that rules
// on URL see the path that is served ("/a/../admin/" is "/admin/"). A ".."
// never climbs above the root; a trailing slash is kept.
std::string NormalizeUrlPath(std::string_view path);

}  // namespace sentrel::hosts
