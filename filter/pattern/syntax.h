// The syntax tree of a rule pattern, as the parser builds it and the code
// generator reads it.
//
// Nodes are stored in one vector in the order they are completed, so every
// node comes after all of its children. Both the parser and the code
// generator rely on that order to work without recursion: a pattern's nesting
// depth is the administrator's to choose and must not be limited by the
// thread's stack.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "filter/pattern/program.h"
#include "filter/pattern/rule_pattern.h"

namespace sentrel::pattern::detail {

enum class NodeKind : std::uint8_t {
  Byte,           // one literal byte
  Any,            // `.`
  Class,          // a bracket class
  End,            // `$` as the last byte of the pattern
  BackReference,  // `\` and a group number
  Group,          // `(...)`, `{...}`, an abbreviation, or the whole pattern: a sequence
  Alternation,    // items joined by `|`, in order of preference
  Quantified,     // an item with `*`, `+` or `?` (greedy or lazy)
  LookAhead,      // `!` and an item
};

enum class Quantifier : std::uint8_t { Star, Plus, Optional };

// How a node that always consumes exactly one byte tests it; such nodes
// compile to a single instruction, and loops over them need no backtracking
// stack per repetition.
enum class OneByte : std::uint8_t { No, Byte, Any, Set };

struct Node {
  NodeKind kind;
  Quantifier quantifier = Quantifier::Star;  // kQuantified
  bool lazy = false;                          // kQuantified
  bool canBeEmpty = false;                    // the dialect's "can match the empty string"
  OneByte oneByte = OneByte::No;
  unsigned char byte = 0;        // oneByte kByte
  std::uint32_t set = 0;         // oneByte kSet: index into SyntaxTree::classes
  std::int32_t group = -1;       // kGroup: match-group number, -1 for a plain group;
                                 // kBackReference: the group referred to
  std::uint32_t firstChild = 0;  // index into SyntaxTree::children
  std::uint32_t childCount = 0;  // kGroup: items of the sequence; kAlternation:
                                 // operands; kQuantified, kLookAhead: 1
};

struct SyntaxTree {
  std::vector<Node> nodes;
  std::vector<std::uint32_t> children;
  std::vector<ByteSet> classes;
  std::uint32_t root = 0;        // a kGroup holding the whole pattern
  std::uint32_t groupCount = 0;  // match groups opened while parsing
  bool anchored = false;         // the pattern began with `^`
};

// Parses `pattern` (already cut at its first zero byte and lower-cased when
// asked) into `tree`. Returns kSuccess or the code of the first fault found.
// May throw std::bad_alloc.
CompileCode Parse(std::string_view pattern, SyntaxTree& tree);

}  // namespace sentrel::pattern::detail
