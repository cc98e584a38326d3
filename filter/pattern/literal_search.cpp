#include "filter/pattern/literal_search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace sentrel::pattern::detail {
namespace {

// How common a byte is in request values (user agents, paths, query
// strings), higher for more common: the blank and the punctuation of paths
// and queries, then small letters by their frequency in English, then digits.
std::uint8_t Commonness(unsigned char b) {
  static const auto table = [] {
    std::array<std::uint8_t, 256> t{};
    const char* letters = "zjqxkvbpygfwmucldrhsnioate";  // rarest first
    for (int i = 0; letters[i] != 0; ++i) t[static_cast<unsigned char>(letters[i])] = static_cast<std::uint8_t>(10 + i);
    for (unsigned char d = '0'; d <= '9'; ++d) t[d] = 30;
    for (unsigned char c : std::string_view(" /.=&-_;(),:+")) t[c] = 40;
    return t;
  }();
  return table[b];
}

std::size_t PivotOf(std::string_view text) {
  std::size_t pivot = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (Commonness(static_cast<unsigned char>(text[i])) < Commonness(static_cast<unsigned char>(text[pivot]))) {
      pivot = i;
    }
  }
  return pivot;
}

// The offset of the least common byte of `text` other than the one at
// `pivot` (the pivot itself for a one-byte text); of equally common ones the
// farthest from the pivot, as bytes close together often come together
// (the "%2" of encoded bytes, the ".." of paths).
std::size_t SecondOf(std::string_view text, std::size_t pivot) {
  std::size_t second = pivot;
  auto distance = [pivot](std::size_t i) { return i > pivot ? i - pivot : pivot - i; };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == pivot) continue;
    if (second == pivot) {
      second = i;
      continue;
    }
    const auto c = Commonness(static_cast<unsigned char>(text[i]));
    const auto best = Commonness(static_cast<unsigned char>(text[second]));
    if (c < best || (c == best && distance(i) > distance(second))) second = i;
  }
  return second;
}

#if SENTREL_PATTERN_SSE2
// The starts among the 16 from `s` where both probe bytes of a text stand,
// as a byte of ones each, and as a bit each.
inline __m128i PairBits(const char* s, std::size_t first, __m128i firstByte, std::size_t second,
                        __m128i secondByte) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + first));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + second));
  return _mm_and_si128(_mm_cmpeq_epi8(a, firstByte), _mm_cmpeq_epi8(b, secondByte));
}
inline unsigned PairMask(const char* s, std::size_t first, __m128i firstByte, std::size_t second,
                         __m128i secondByte) {
  return static_cast<unsigned>(_mm_movemask_epi8(PairBits(s, first, firstByte, second, secondByte)));
}
#endif

}  // namespace

LiteralProbe ProbeOf(std::string_view text) {
  if (text.empty()) return {};
  const std::size_t pivot = PivotOf(text);
  return LiteralProbe{pivot, SecondOf(text, pivot)};
}

bool Contains(std::string_view subject, std::string_view text, LiteralProbe probe) {
  const std::size_t length = text.size();
  if (length == 0) return true;
  if (length > subject.size()) return false;
  const std::size_t pivot = probe.pivot;
  const char* const s = subject.data();
  const std::size_t starts = subject.size() - length + 1;
#if SENTREL_PATTERN_SSE2
  // Sixteen starts at a time, by the two least common bytes of the text:
  // far fewer candidates than by one byte alone.
  if (length > 1) {
    const std::size_t second = probe.second;
    const __m128i firstByte = _mm_set1_epi8(text[pivot]);
    const __m128i secondByte = _mm_set1_epi8(text[second]);
    if (starts >= 16) {
      // The last block overlaps the one before it so that it ends with the
      // last start: no start is left over.
      for (std::size_t block = 0;; block = std::min(block + 16, starts - 16)) {
        unsigned mask = PairMask(s + block, pivot, firstByte, second, secondByte);
        for (; mask != 0; mask &= mask - 1) {
          const std::size_t at = block + static_cast<std::size_t>(std::countr_zero(mask));
          if (std::memcmp(s + at, text.data(), length) == 0) return true;
        }
        if (block == starts - 16) return false;
      }
    }
  }
#endif
  // A one-byte text, or a subject shorter than sixteen starts: by memchr.
  const char* from = s + pivot;
  const char* const last = s + (starts - 1) + pivot;  // the pivot's last possible place
  while (from <= last) {
    const void* hit = std::memchr(from, text[pivot], static_cast<std::size_t>(last - from) + 1);
    if (hit == nullptr) return false;
    const char* at = static_cast<const char*>(hit);
    if (std::memcmp(at - pivot, text.data(), length) == 0) return true;
    from = at + 1;
  }
  return false;
}

ByteChoice::ByteChoice(std::string_view choice) : bytes(choice) {
  for (char c : choice) set.Add(static_cast<unsigned char>(c));
#if SENTREL_PATTERN_SSE2
  for (std::size_t k = 0; k < 8; ++k) {
    lanes[k] = _mm_set1_epi8(choice.empty() ? 0 : choice[std::min(k, choice.size() - 1)]);
  }
#endif
}

namespace {

// The first byte value at or after `from` that is in the set (or, with `in`
// false, is not), or 256 when there is none: a word of the set at a time.
unsigned NextWhere(const ByteSet& set, unsigned from, bool in) {
  while (from < 256) {
    std::uint64_t word = in ? set.bits[from >> 6] : ~set.bits[from >> 6];
    word &= ~std::uint64_t{0} << (from & 63);
    if (word != 0) return (from & ~63u) + static_cast<unsigned>(std::countr_zero(word));
    from = (from & ~63u) + 64;
  }
  return 256;
}

}  // namespace

ByteRanges ByteRanges::Of(const ByteSet& set) {
  ByteRanges r;
  for (unsigned b = NextWhere(set, 0, true); b < 256;) {
    const unsigned end = NextWhere(set, b, false);  // one past the range
    if (r.count == kMax) return ByteRanges{};
#if SENTREL_PATTERN_SSE2
    r.low[r.count] = _mm_set1_epi8(static_cast<char>(b));
    r.span[r.count] = _mm_set1_epi8(static_cast<char>(end - 1 - b));
#endif
    ++r.count;
    b = end < 256 ? NextWhere(set, end, true) : 256;
  }
  if (set.Count() == 255) {
    r.allButOne = true;
#if SENTREL_PATTERN_SSE2
    r.low[0] = _mm_set1_epi8(static_cast<char>(NextWhere(set, 0, false)));
#endif
  }
  return r;
}

LiteralSet::LiteralSet(const std::vector<std::string>& texts) : texts_(texts) {
  std::string bytes;
  for (const std::string& text : texts_) {
    const std::size_t pivot = PivotOf(text);
    pivots_.push_back(pivot);
    seconds_.push_back(SecondOf(text, pivot));
    longest_ = std::max(longest_, text.size());
    if (bytes.find(text[pivot]) == std::string::npos) bytes.push_back(text[pivot]);
  }
  pivotBytes_ = ByteChoice(bytes);
}

bool LiteralSet::AnyIn(std::string_view subject) const {
  const std::size_t n = subject.size();
  const char* const s = subject.data();
  // Whether a text whose pivot byte stands at `p` occurs there.
  auto fits = [&](std::size_t p) {
    for (std::size_t k = 0; k < texts_.size(); ++k) {
      const std::string& text = texts_[k];
      const std::size_t pivot = pivots_[k];
      if (s[p] != text[pivot] || p < pivot || p - pivot + text.size() > n || s[p - pivot] != text[0]) continue;
      if (std::memcmp(s + p - pivot, text.data(), text.size()) == 0) return true;
    }
    return false;
  };
#if SENTREL_PATTERN_SSE2
  // Sixteen starts at a time, each text by its two least common bytes. The
  // last block overlaps the one before it so that it ends with the last
  // start of the longest text; shorter texts have a few starts left.
  if (n >= longest_ + 15) {
    const std::size_t count = texts_.size();
    __m128i firstBytes[kMaxTexts];
    __m128i secondBytes[kMaxTexts];
    for (std::size_t k = 0; k < count; ++k) {
      firstBytes[k] = _mm_set1_epi8(texts_[k][pivots_[k]]);
      secondBytes[k] = _mm_set1_epi8(texts_[k][seconds_[k]]);
    }
    const std::size_t last = n - longest_ - 15;  // the last block start whose loads stay inside
    for (std::size_t block = 0;; block = std::min(block + 16, last)) {
      __m128i any = PairBits(s + block, pivots_[0], firstBytes[0], seconds_[0], secondBytes[0]);
      for (std::size_t k = 1; k < count; ++k) {
        any = _mm_or_si128(any, PairBits(s + block, pivots_[k], firstBytes[k], seconds_[k], secondBytes[k]));
      }
      if (_mm_movemask_epi8(any) != 0) {
        // A candidate start: which text it is for is found by comparing.
        for (std::size_t k = 0; k < count; ++k) {
          unsigned mask = PairMask(s + block, pivots_[k], firstBytes[k], seconds_[k], secondBytes[k]);
          for (; mask != 0; mask &= mask - 1) {
            const std::size_t at = block + static_cast<std::size_t>(std::countr_zero(mask));
            if (std::memcmp(s + at, texts_[k].data(), texts_[k].size()) == 0) return true;
          }
        }
      }
      if (block == last) break;
    }
    for (std::size_t k = 0; k < count; ++k) {
      const std::string& text = texts_[k];
      for (std::size_t at = last + 16; at + text.size() <= n; ++at) {
        if (s[at] == text[0] && std::memcmp(s + at, text.data(), text.size()) == 0) return true;
      }
    }
    return false;
  }
#endif
  // Short subjects: by the pivot bytes.
  for (std::size_t p = FindAnyOf(subject, 0, pivotBytes_); p < n; p = FindAnyOf(subject, p + 1, pivotBytes_)) {
    if (fits(p)) return true;
  }
  return false;
}

std::size_t LiteralSet::memoryUse() const {
  std::size_t bytes = texts_.capacity() * sizeof(std::string) + pivots_.capacity() * sizeof(std::size_t) +
                      pivotBytes_.bytes.capacity();
  for (const std::string& text : texts_) bytes += text.capacity();
  return bytes;
}

}  // namespace sentrel::pattern::detail
