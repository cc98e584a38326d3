// Code-page conversion through iconv. The code page is GBK; bytes that cannot
// be converted become '?', and invalid input never stops the conversion.
#include <iconv.h>

#include <cerrno>

#include "platform/codepage.h"
#include "platform/common/utf8.h"

namespace sentrel::platform {

namespace {

enum class Skip { OneByte, Utf8Character };

std::string Convert(std::string_view text, const char* to, const char* from, Skip skip) {
  std::string out;
  if (text.empty()) return out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter: keep ASCII, replace everything else.
    out.reserve(text.size());
    for (char c : text) out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
    return out;
  }
  out.resize(text.size() * 2 + 16);
  std::size_t used = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    char* in = const_cast<char*>(text.data() + pos);
    std::size_t inLeft = text.size() - pos;
    char* dst = out.data() + used;
    std::size_t dstLeft = out.size() - used;
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    const int err = errno;
    pos = text.size() - inLeft;
    used = out.size() - dstLeft;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (err == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ (invalid or unconvertible) or EINVAL (cut off at the end).
    if (used == out.size()) out.resize(out.size() * 2);
    out[used++] = '?';
    pos += skip == Skip::Utf8Character ? detail::Utf8SequenceLength(text, pos) : 1;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  }
  iconv_close(cd);
  out.resize(used);
  return out;
}

}  // namespace

std::string CodePageToUtf8(std::string_view text) {
  return Convert(text, "UTF-8", "GBK", Skip::OneByte);
}

std::string Utf8ToCodePage(std::string_view text) {
  return Convert(text, "GBK", "UTF-8", Skip::Utf8Character);
}

}  // namespace sentrel::platform
