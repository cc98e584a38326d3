// Code-page conversion with the system's multi-byte routines. The filter's
// texts are always taken as code page 936 (GBK), named explicitly, so the
// result does not depend on the machine's ANSI code page. Bytes or characters
// that cannot be converted become one '?' each, and invalid input never stops
// the conversion: a text the routines refuse whole is converted again one
// character at a time.
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/common/utf8.h"
#include "platform/win32/windows_api.h"

namespace sentrel::platform {

namespace {

constexpr UINT kCodePage = 936;

// Text to UTF-16 with the routine's strict mode; false when the text holds
// anything the code page does not define.
bool ToWide(UINT codePage, std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n) == n;
}

// UTF-16 to a code page; false when a character has no form there (it would
// have been replaced by the default character).
bool FromWide(UINT codePage, std::wstring_view wide, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  // UTF-8 takes neither a default character nor the best-fit flag.
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 ? nullptr : &usedDefault;
  const int n = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, used);
  if (n <= 0 || usedDefault) return false;
  out.resize(static_cast<std::size_t>(n));
  return ::WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), n, nullptr, used) == n &&
         !usedDefault;
}

bool Convert(UINT from, UINT to, std::string_view text, std::string& out) {
  std::wstring wide;
  return ToWide(from, text, wide) && FromWide(to, wide, out);
}

// The bytes of the character that starts at `at`: in the code page a lead
// byte with the byte after it, else one byte.
std::size_t CodePageCharLength(std::string_view text, std::size_t at) {
  const auto b = static_cast<unsigned char>(text[at]);
  return IsLeadByte(b) && at + 1 < text.size() ? 2 : 1;
}

// A failed code-page character gives up one byte only, so that a lead byte
// before a byte that cannot trail it does not take that byte with it; a
// failed UTF-8 sequence is given up whole.
enum class Skip { OneByte, WholeCharacter };

std::string ConvertText(UINT from, UINT to, std::string_view text,
                        std::size_t (*charLength)(std::string_view, std::size_t), Skip skip) {
  std::string out;
  if (Convert(from, to, text, out)) return out;
  // Character by character; what does not convert becomes one '?'.
  out.clear();
  std::string piece;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t len = charLength(text, at);
    if (Convert(from, to, text.substr(at, len), piece)) {
      out += piece;
      at += len;
    } else {
      out.push_back('?');
      at += skip == Skip::OneByte ? 1 : len;
    }
  }
  return out;
}

}  // namespace

std::string CodePageToUtf8(std::string_view text) {
  return ConvertText(kCodePage, CP_UTF8, text, CodePageCharLength, Skip::OneByte);
}

std::string Utf8ToCodePage(std::string_view text) {
  return ConvertText(CP_UTF8, kCodePage, text, detail::Utf8SequenceLength, Skip::WholeCharacter);
}

}  // namespace sentrel::platform
