// Text building that is safe inside a fault handler: a fixed buffer the
// caller owns, no allocation, no locale, no stdio. Used for the crash dump's
// file name and record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sentrel {

class SignalSafeText {
 public:
  // Builds into out[0 .. capacity), always zero-terminated when capacity > 0.
  SignalSafeText(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {
    if (capacity_ > 0) out_[0] = '\0';
  }

  SignalSafeText& Append(const char* text) {
    if (text == nullptr) return *this;
    while (*text != '\0') Put(*text++);
    return *this;
  }
  SignalSafeText& Append(const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) Put(text[i]);
    return *this;
  }
  SignalSafeText& Char(char c) {
    Put(c);
    return *this;
  }

  // A decimal number right-aligned in at least `width` characters, padded
  // with `pad` (as printf's "%4d" with pad ' ', "%02d" with pad '0'; a minus
  // sign goes before zero padding).
  SignalSafeText& Decimal(std::int64_t value, int width = 0, char pad = ' ') {
    char digits[24];
    int n = 0;
    // Work with the negative value so the most negative number needs no care.
    std::int64_t v = value < 0 ? value : -value;
    do {
      digits[n++] = static_cast<char>('0' - (v % 10));
      v /= 10;
    } while (v != 0);
    const int length = n + (value < 0 ? 1 : 0);
    if (pad == '0' && value < 0) Put('-');
    for (int i = length; i < width; ++i) Put(pad);
    if (pad != '0' && value < 0) Put('-');
    while (n > 0) Put(digits[--n]);
    return *this;
  }

  // "0x" and the value in lower-case hexadecimal, at least `digits` digits.
  SignalSafeText& Hex(std::uint64_t value, int digits = 1) {
    char text[16];
    int n = 0;
    do {
      text[n++] = "0123456789abcdef"[value & 0xF];
      value >>= 4;
    } while (value != 0);
    Append("0x");
    for (int i = n; i < digits; ++i) Put('0');
    while (n > 0) Put(text[--n]);
    return *this;
  }

  const char* Data() const { return out_; }
  std::size_t Length() const { return length_; }
  // True when something did not fit (the text is then cut).
  bool Overflowed() const { return overflowed_; }
  void Clear() {
    length_ = 0;
    overflowed_ = false;
    if (capacity_ > 0) out_[0] = '\0';
  }

 private:
  void Put(char c) {
    if (length_ + 1 >= capacity_) {
      overflowed_ = true;
      return;
    }
    out_[length_++] = c;
    out_[length_] = '\0';
  }

  char* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool overflowed_ = false;
};

}  // namespace sentrel
