// Searches for literal texts in a subject, used before (or instead of) the
// automaton: a subject that lacks a text every match needs is rejected
// without running it.
//
// Candidates are found by the text's two least common bytes (by how often
// bytes occur in request values), sixteen starts at a time with vector
// compares, then by its least common byte with memchr or, for several texts
// at once, a scan for up to eight bytes; only candidates are compared.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "filter/pattern/program.h"

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
};

// The first position at or after `from` whose byte is one of `choice`, or
// subject.size() when there is none.
std::size_t FindAnyOf(std::string_view subject, std::size_t from, const ByteChoice& choice);

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
