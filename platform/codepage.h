// The system code page (GBK): multi-byte aware case changes and conversion to
// and from UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace sentrel::platform {

// A lead byte of a double-byte character (0x81-0xFE). The lead byte and the
// byte after it form one character that case changes never alter.
constexpr bool IsLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

// Upper-/lower-cases ASCII letters in place, skipping double-byte characters
// as a whole (a trail byte that happens to be an ASCII letter keeps its case).
void ToUpperInPlace(std::string& text);
void ToLowerInPlace(std::string& text);
std::string ToUpper(std::string text);
std::string ToLower(std::string text);

// Conversions between the code page and UTF-8. Bytes that cannot be converted
// are replaced by '?'.
std::string CodePageToUtf8(std::string_view text);
std::string Utf8ToCodePage(std::string_view text);

}  // namespace sentrel::platform
