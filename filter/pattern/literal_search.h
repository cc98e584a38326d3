// Searches for literal texts in a subject, used before (or instead of) the
// automaton: a subject that lacks a text every match needs is rejected
// without running it. Also the byte searches of the backtracker: the next
// start byte, the end of a one-byte loop's run, the last place of a byte.
//
// Candidates are found by the text's two least common bytes (by how often
// bytes occur in request values), sixteen starts at a time with vector
// compares, then by its least common byte with memchr or, for several texts
// at once, a scan for up to eight bytes; only candidates are compared.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "filter/pattern/program.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define SENTREL_PATTERN_SSE2 1
#endif

namespace sentrel::pattern::detail {

// Where a text's two least common bytes stand: the bytes a search for it
// looks for first.
struct LiteralProbe {
  std::size_t pivot = 0;   // the least common byte
  std::size_t second = 0;  // the next least common (the pivot again for one byte)
};
LiteralProbe ProbeOf(std::string_view text);

// Whether `text` occurs in `subject`; `probe` is ProbeOf(text).
bool Contains(std::string_view subject, std::string_view text, LiteralProbe probe);
inline bool Contains(std::string_view subject, std::string_view text) {
  return Contains(subject, text, ProbeOf(text));
}

// A choice of one to eight bytes, to search for.
struct ByteChoice {
  ByteChoice() = default;
  explicit ByteChoice(std::string_view bytes);
  std::string bytes;
  ByteSet set;
#if SENTREL_PATTERN_SSE2
  __m128i lanes[8] = {};  // each byte sixteen times (the last one again where there are fewer)
#endif
};

// A byte set as at most four ranges of byte values, which a vector tests
// sixteen bytes at a time (`\w`, `\d`, `[^&]`, `[a-z0-9_-]`).
struct ByteRanges {
  static constexpr std::size_t kMax = 4;
  // None when the set needs more ranges (or is empty).
  static ByteRanges Of(const ByteSet& set);
  std::uint8_t count = 0;
  // The set is every byte but one (as `[^&]`): its run ends at that byte,
  // which low[0] holds.
  bool allButOne = false;
#if SENTREL_PATTERN_SSE2
  // Each range's lowest byte, and its highest minus its lowest, sixteen times.
  __m128i low[kMax] = {};
  __m128i span[kMax] = {};
#endif
};

#if SENTREL_PATTERN_SSE2
// The first position at or after `p` whose bit is set in the 16-bit mask that
// `hits` gives for the 16-byte block at it, or `n` when there is none. The
// last block overlaps the one before it, so nothing past `n` is read. False,
// with nothing searched, for subjects of fewer than 16 bytes.
template <class Hits>
inline bool ScanBlocks(const unsigned char* s, std::size_t& p, std::size_t n, Hits hits) {
  if (n < 16) return false;
  for (; p + 16 <= n; p += 16) {
    const unsigned mask = hits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p)));
    if (mask != 0) {
      p += static_cast<std::size_t>(std::countr_zero(mask));
      return true;
    }
  }
  if (p < n) {
    const std::size_t last = n - 16;
    const unsigned mask = hits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + last))) >> (p - last);
    if (mask != 0) {
      p += static_cast<std::size_t>(std::countr_zero(mask));
      return true;
    }
  }
  p = n;
  return true;
}

template <std::size_t kCount>
inline bool FindAnyOfBlocks(const unsigned char* s, std::size_t& p, std::size_t n, const ByteChoice& choice) {
  const __m128i* wanted = choice.lanes;
  return ScanBlocks(s, p, n, [&](__m128i block) {
    __m128i any = _mm_cmpeq_epi8(block, wanted[0]);
    for (std::size_t k = 1; k < kCount; ++k) any = _mm_or_si128(any, _mm_cmpeq_epi8(block, wanted[k]));
    return static_cast<unsigned>(_mm_movemask_epi8(any));
  });
}

template <std::size_t kCount>
inline bool RunEndBlocks(const unsigned char* s, std::size_t& p, std::size_t n, const ByteRanges& ranges) {
  const __m128i* low = ranges.low;
  const __m128i* span = ranges.span;
  return ScanBlocks(s, p, n, [&](__m128i block) {
    // A byte is in a range when its distance above the low end, as an
    // unsigned byte, is at most the span.
    __m128i in = _mm_setzero_si128();
    for (std::size_t k = 0; k < kCount; ++k) {
      const __m128i above = _mm_sub_epi8(block, low[k]);
      in = _mm_or_si128(in, _mm_cmpeq_epi8(_mm_min_epu8(above, span[k]), above));
    }
    return ~static_cast<unsigned>(_mm_movemask_epi8(in)) & 0xFFFFu;
  });
}
#endif

// The first position at or after `from` whose byte is one of `choice`, or
// subject.size() when there is none. Inline: the backtracker calls it for
// every start position, mostly over a few dozen bytes.
[[gnu::always_inline]] inline std::size_t FindAnyOf(std::string_view subject, std::size_t from,
                                                    const ByteChoice& choice) {
  const std::size_t n = subject.size();
  const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
  const std::string& bytes = choice.bytes;
  if (bytes.size() == 1) {
    if (from >= n) return n;
    const void* hit = std::memchr(s + from, bytes[0], n - from);
    return hit == nullptr ? n : static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - s);
  }
  std::size_t p = from;
#if SENTREL_PATTERN_SSE2
  bool done = false;
  switch (bytes.size()) {
    case 0: break;
    case 2: done = FindAnyOfBlocks<2>(s, p, n, choice); break;
    case 3: done = FindAnyOfBlocks<3>(s, p, n, choice); break;
    case 4: done = FindAnyOfBlocks<4>(s, p, n, choice); break;
    default: done = FindAnyOfBlocks<8>(s, p, n, choice); break;
  }
  if (done) return p;
#endif
  while (p < n && !choice.set.Test(s[p])) ++p;
  return p;
}

// The last position whose byte is `byte`, or npos when there is none.
inline std::size_t FindLast(std::string_view subject, unsigned char byte) {
  const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
  std::size_t p = subject.size();
#if SENTREL_PATTERN_SSE2
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
  for (; p >= 16; p -= 16) {
    const auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p - 16)), wanted)));
    if (mask != 0) return p - 16 + static_cast<std::size_t>(31 - std::countl_zero(mask));
  }
#endif
  while (p > 0) {
    if (s[--p] == byte) return p;
  }
  return std::string_view::npos;
}

// Where the run of bytes of `set` that begins at `from` ends: the first
// position at or after it whose byte is not in the set, or subject.size().
// `ranges` is ByteRanges::Of(set).
[[gnu::always_inline]] inline std::size_t RunEnd(std::string_view subject, std::size_t from, const ByteSet& set,
                                                 const ByteRanges& ranges) {
  const std::size_t n = subject.size();
  const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
  std::size_t p = from;
#if SENTREL_PATTERN_SSE2
  bool done = false;
  switch (ranges.allButOne ? 0 : ranges.count) {
    case 0:
      if (ranges.allButOne) {
        done = ScanBlocks(s, p, n, [&](__m128i block) {
          return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, ranges.low[0])));
        });
      }
      break;
    case 1: done = RunEndBlocks<1>(s, p, n, ranges); break;
    case 2: done = RunEndBlocks<2>(s, p, n, ranges); break;
    case 3: done = RunEndBlocks<3>(s, p, n, ranges); break;
    default: done = RunEndBlocks<4>(s, p, n, ranges); break;
  }
  if (done) return p;
#else
  (void)ranges;
#endif
  while (p < n && set.Test(s[p])) ++p;
  return p;
}

// Whether any of up to eight texts occurs in a subject, in one pass.
class LiteralSet {
 public:
  static constexpr std::size_t kMaxTexts = 8;

  LiteralSet() = default;
  // `texts` must hold 1 to kMaxTexts texts, none empty.
  explicit LiteralSet(const std::vector<std::string>& texts);

  bool empty() const { return texts_.empty(); }
  bool AnyIn(std::string_view subject) const;
  std::size_t memoryUse() const;

 private:
  std::vector<std::string> texts_;
  std::vector<std::size_t> pivots_;  // the offset of each text's least common byte
  std::vector<std::size_t> seconds_; // and of its next least common byte
  std::size_t longest_ = 0;          // the length of the longest text
  ByteChoice pivotBytes_;            // the distinct bytes at those offsets
};

}  // namespace sentrel::pattern::detail
