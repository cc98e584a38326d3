// A deliberately simple second implementation of the rule pattern dialect,
// for the tests only: a recursive-descent parser to a tree and a recursive
// matcher with continuations, written from the dialect's description rather
// than from the engine. It has no step budget and no limit on nesting, so it
// is only fed small patterns.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sentrel::pattern::reference {

inline constexpr std::size_t kUnset = static_cast<std::size_t>(-1);

struct Outcome {
  int code = 0;  // compile result code, 0 for success
  bool found = false;
  std::size_t start = kUnset;
  std::size_t end = kUnset;
  std::vector<std::pair<std::size_t, std::size_t>> groups;  // (kUnset, kUnset) when not taking part
};

// A compiled pattern of the reference implementation.
class Compiled {
 public:
  Compiled(std::string_view pattern, bool caseSensitive);
  ~Compiled();
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;

  int code() const { return code_; }
  // Searches `subject`; `code` of the outcome is this pattern's code.
  Outcome Search(std::string_view subject) const;

 private:
  struct Tree;
  int code_ = 0;
  bool caseSensitive_ = true;
  std::unique_ptr<Tree> tree_;
};

// Compiles `pattern` and, when it compiles, searches `subject` for it.
Outcome Run(std::string_view pattern, std::string_view subject, bool caseSensitive = true);

}  // namespace sentrel::pattern::reference
