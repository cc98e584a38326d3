// Case changes of code-page text. Only ASCII letters change; a lead byte and
// the byte after it form one double-byte character that is skipped whole, so a
// trail byte that happens to be an ASCII letter keeps its case.
#include "platform/codepage.h"

namespace sentrel::platform {

namespace {

template <typename Change>
void ChangeCase(std::string& text, Change change) {
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(b)) {
      ++i;  // the trail byte belongs to this character
      continue;
    }
    text[i] = static_cast<char>(change(b));
  }
}

}  // namespace

void ToUpperInPlace(std::string& text) {
  ChangeCase(text, [](unsigned char b) { return (b >= 'a' && b <= 'z') ? b - 'a' + 'A' : b; });
}

void ToLowerInPlace(std::string& text) {
  ChangeCase(text, [](unsigned char b) { return (b >= 'A' && b <= 'Z') ? b - 'A' + 'a' : b; });
}

std::string ToUpper(std::string text) {
  ToUpperInPlace(text);
  return text;
}

std::string ToLower(std::string text) {
  ToLowerInPlace(text);
  return text;
}

}  // namespace sentrel::platform
