// Pattern text to syntax tree.
//
// The dialect, loosest binding first:
//   pattern      := ['^'] sequence
//   sequence     := alternation*        ends at the end or at `)`, `]`, `}`
//   alternation  := quantified ['|' alternation]
//   quantified   := item ['*' | '+' | '?'] ['?' after that one]
//   item         := byte | '.' | '$' (last byte only) | class | '(' sequence ')'
//                 | '{' sequence '}' | '\' ... | '!' item
// An alternation whose `|` is followed by nothing that can start an item is
// dropped whole, its left operand included, and its sequence ends there; so
// is an item that is only `!` signs. At the top level a closer without its
// opener ends the pattern and the rest is ignored.
//
// The parser keeps its own stack of open groups instead of recursing, so the
// nesting depth of a pattern is limited only by memory.

#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "filter/pattern/abbreviations.h"
#include "filter/pattern/syntax.h"

namespace sentrel::pattern::detail {
namespace {

bool IsCloser(unsigned char c) { return c == ')' || c == ']' || c == '}'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

class Parser {
 public:
  Parser(std::string_view text, SyntaxTree& tree) : text_(text), tree_(tree) {}

  // Parses the whole text; on success `root` is a kGroup node for it.
  CompileCode Run(std::uint32_t& root);

 private:
  enum class FrameKind : std::uint8_t { Top, Plain, Match };

  // One open sequence: the whole pattern or a group not yet closed. Its
  // finished items lie in pending_ from `items` on; the operands of the
  // alternation being read follow from `chain` on.
  struct Frame {
    FrameKind kind;
    std::int32_t group;
    std::size_t items;
    std::size_t chain;
    std::uint32_t bangs = 0;  // `!` signs read for the item being read
    bool afterBar = false;    // a `|` was read; an operand must follow
  };

  bool AtEnd() const { return pos_ >= text_.size(); }
  unsigned char Peek() const { return static_cast<unsigned char>(text_[pos_]); }

  std::uint32_t Add(const Node& node) {
    tree_.nodes.push_back(node);
    return static_cast<std::uint32_t>(tree_.nodes.size() - 1);
  }
  std::uint32_t AddOneByte(NodeKind kind, OneByte oneByte, unsigned char byte, std::uint32_t set) {
    Node n{kind};
    n.oneByte = oneByte;
    n.byte = byte;
    n.set = set;
    return Add(n);
  }

  CompileCode CloseFrame();
  CompileCode ItemDone(std::uint32_t item);
  CompileCode ReadAtom(std::uint32_t& item);
  CompileCode ReadClass(std::uint32_t& item);
  CompileCode ReadEscape(std::uint32_t& item);
  std::uint32_t MakeGroup(std::int32_t group, std::size_t from);
  std::uint32_t MakeAlternation(std::size_t from);

  std::string_view text_;
  SyntaxTree& tree_;
  std::size_t pos_ = 0;
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> pending_;
  bool done_ = false;
  std::uint32_t root_ = 0;
};

CompileCode Parser::Run(std::uint32_t& root) {
  frames_.push_back(Frame{FrameKind::Top, -1, 0, 0});
  while (!done_) {
    Frame& frame = frames_.back();
    if (AtEnd() || IsCloser(Peek())) {
      if (frame.afterBar || frame.bangs != 0) {
        // Nothing can start the item that must follow: drop the alternation
        // being read (or the bare `!` signs).
        pending_.resize(frame.chain);
        frame.afterBar = false;
        frame.bangs = 0;
      }
      if (CompileCode code = CloseFrame(); code != CompileCode::Success) return code;
      continue;
    }
    const unsigned char c = Peek();
    if (c == '!') {
      ++pos_;
      ++frame.bangs;
      continue;
    }
    if (c == '(' || c == '{') {
      ++pos_;
      Frame inner{c == '(' ? FrameKind::Plain : FrameKind::Match, -1, pending_.size(), pending_.size()};
      if (c == '{') inner.group = static_cast<std::int32_t>(tree_.groupCount++);
      frames_.push_back(inner);  // `frame` is not used after this
      continue;
    }
    std::uint32_t item = 0;
    if (CompileCode code = ReadAtom(item); code != CompileCode::Success) return code;
    if (CompileCode code = ItemDone(item); code != CompileCode::Success) return code;
  }
  root = root_;
  return CompileCode::Success;
}

// At the end of the text or at a closer, with no alternation half read.
CompileCode Parser::CloseFrame() {
  const Frame frame = frames_.back();
  const int closer = AtEnd() ? 0 : Peek();
  switch (frame.kind) {
    case FrameKind::Top:
      // A closer without its opener ends the pattern; the rest is ignored.
      root_ = MakeGroup(-1, frame.items);
      done_ = true;
      return CompileCode::Success;
    case FrameKind::Plain:
      if (closer != ')') return CompileCode::ParenExpected;
      break;
    case FrameKind::Match:
      if (closer != '}') return CompileCode::BraceExpected;
      break;
  }
  ++pos_;
  const std::uint32_t group = MakeGroup(frame.group, frame.items);
  frames_.pop_back();
  return ItemDone(group);
}

// An item is complete: apply its `!` signs and quantifier, then add it to the
// alternation being read, or end that alternation.
CompileCode Parser::ItemDone(std::uint32_t item) {
  Frame& frame = frames_.back();
  for (; frame.bangs != 0; --frame.bangs) {
    Node look{NodeKind::LookAhead};
    look.canBeEmpty = tree_.nodes[item].canBeEmpty;
    look.firstChild = static_cast<std::uint32_t>(tree_.children.size());
    look.childCount = 1;
    tree_.children.push_back(item);
    item = Add(look);
  }
  if (!AtEnd() && (Peek() == '*' || Peek() == '+' || Peek() == '?')) {
    Node q{NodeKind::Quantified};
    q.quantifier = Peek() == '*' ? Quantifier::Star : Peek() == '+' ? Quantifier::Plus : Quantifier::Optional;
    ++pos_;
    if (!AtEnd() && Peek() == '?') {
      q.lazy = true;
      ++pos_;
    }
    if (q.quantifier != Quantifier::Optional && tree_.nodes[item].canBeEmpty) {
      return CompileCode::EmptyRepetition;
    }
    // Only a greedy `+` keeps its operand from matching empty.
    q.canBeEmpty = q.quantifier != Quantifier::Plus || q.lazy;
    q.firstChild = static_cast<std::uint32_t>(tree_.children.size());
    q.childCount = 1;
    tree_.children.push_back(item);
    item = Add(q);
  }
  pending_.push_back(item);
  if (!AtEnd() && Peek() == '|') {
    ++pos_;
    frame.afterBar = true;
    return CompileCode::Success;
  }
  if (pending_.size() - frame.chain > 1) {
    const std::uint32_t alternation = MakeAlternation(frame.chain);
    pending_.push_back(alternation);
  }
  frame.chain = pending_.size();
  frame.afterBar = false;
  return CompileCode::Success;
}

std::uint32_t Parser::MakeGroup(std::int32_t group, std::size_t from) {
  Node g{NodeKind::Group};
  g.group = group;
  g.firstChild = static_cast<std::uint32_t>(tree_.children.size());
  g.childCount = static_cast<std::uint32_t>(pending_.size() - from);
  bool allEmpty = g.childCount != 0;
  for (std::size_t i = from; i < pending_.size(); ++i) {
    tree_.children.push_back(pending_[i]);
    allEmpty = allEmpty && tree_.nodes[pending_[i]].canBeEmpty;
  }
  g.canBeEmpty = allEmpty;
  // A plain group around one one-byte item is that item.
  if (group < 0 && g.childCount == 1) {
    const Node& only = tree_.nodes[pending_[from]];
    g.oneByte = only.oneByte;
    g.byte = only.byte;
    g.set = only.set;
  }
  pending_.resize(from);
  return Add(g);
}

std::uint32_t Parser::MakeAlternation(std::size_t from) {
  Node a{NodeKind::Alternation};
  a.firstChild = static_cast<std::uint32_t>(tree_.children.size());
  a.childCount = static_cast<std::uint32_t>(pending_.size() - from);
  bool anyEmpty = false;
  bool allOneByte = true;
  for (std::size_t i = from; i < pending_.size(); ++i) {
    tree_.children.push_back(pending_[i]);
    const Node& operand = tree_.nodes[pending_[i]];
    anyEmpty = anyEmpty || operand.canBeEmpty;
    allOneByte = allOneByte && operand.oneByte != OneByte::No;
  }
  a.canBeEmpty = anyEmpty;
  if (allOneByte) {
    // A choice among one-byte items is one byte of their union: each operand
    // leaves the same state behind, so the order of trying them cannot change
    // the outcome.
    ByteSet set;
    for (std::size_t i = from; i < pending_.size(); ++i) {
      const Node& operand = tree_.nodes[pending_[i]];
      switch (operand.oneByte) {
        case OneByte::Byte: set.Add(operand.byte); break;
        case OneByte::Any: set.AddAll(); break;
        case OneByte::Set: set.Merge(tree_.classes[operand.set]); break;
        case OneByte::No: break;
      }
    }
    a.oneByte = OneByte::Set;
    a.set = static_cast<std::uint32_t>(tree_.classes.size());
    tree_.classes.push_back(set);
  }
  pending_.resize(from);
  return Add(a);
}

CompileCode Parser::ReadAtom(std::uint32_t& item) {
  const unsigned char c = Peek();
  switch (c) {
    case '.':
      ++pos_;
      item = AddOneByte(NodeKind::Any, OneByte::Any, 0, 0);
      return CompileCode::Success;
    case '[':
      return ReadClass(item);
    case '\\':
      return ReadEscape(item);
    case '$':
      if (pos_ + 1 == text_.size()) {
        ++pos_;
        item = Add(Node{NodeKind::End});
        return CompileCode::Success;
      }
      break;
    default:
      break;
  }
  // Any other byte stands for itself, `*`, `+`, `?`, `|`, `^` and a `$`
  // before the last byte included.
  ++pos_;
  item = AddOneByte(NodeKind::Byte, OneByte::Byte, c, 0);
  return CompileCode::Success;
}

CompileCode Parser::ReadClass(std::uint32_t& item) {
  ++pos_;  // '['
  bool negated = false;
  if (!AtEnd() && Peek() == '^') {
    negated = true;
    ++pos_;
  }
  if (!AtEnd() && Peek() == ']') return CompileCode::EmptyClass;
  ByteSet set;
  for (;;) {
    if (AtEnd()) return CompileCode::BracketExpected;
    unsigned char first = Peek();
    ++pos_;
    if (first == ']') break;
    if (first == '\\') {
      // The next byte is a member as it is; `\t` is the TAB byte.
      if (AtEnd()) return CompileCode::BracketExpected;
      first = Peek() == 't' ? '\t' : Peek();
      ++pos_;
    }
    if (!AtEnd() && Peek() == '-') {
      ++pos_;
      // The end of a range is taken as it is, without escapes.
      if (AtEnd() || Peek() == ']') return CompileCode::BracketExpected;
      const unsigned char last = Peek();
      ++pos_;
      if (last < first) return CompileCode::InvalidRange;
      set.AddRange(first, last);
    } else {
      set.Add(first);
    }
  }
  if (negated) set.Invert();
  const auto index = static_cast<std::uint32_t>(tree_.classes.size());
  tree_.classes.push_back(set);
  item = AddOneByte(NodeKind::Class, OneByte::Set, 0, index);
  return CompileCode::Success;
}

CompileCode Parser::ReadEscape(std::uint32_t& item) {
  ++pos_;  // '\'
  // A lone backslash at the end has no meaning: the pattern is rejected.
  if (AtEnd()) return CompileCode::Unexpected;
  const unsigned char c = Peek();
  if (IsDigit(c)) {
    // Back-reference: all the digits form one number.
    std::uint64_t number = 0;
    while (!AtEnd() && IsDigit(Peek())) {
      if (number <= std::numeric_limits<std::uint32_t>::max()) number = number * 10 + (Peek() - '0');
      ++pos_;
    }
    if (number >= tree_.groupCount) return CompileCode::InvalidGroup;
    Node ref{NodeKind::BackReference};
    ref.group = static_cast<std::int32_t>(number);
    item = Add(ref);
    return CompileCode::Success;
  }
  ++pos_;
  const std::string_view sub = Abbreviation(c);
  if (sub.empty()) {
    item = AddOneByte(NodeKind::Byte, OneByte::Byte, c, 0);
    return CompileCode::Success;
  }
  // An abbreviation is its sub-pattern, compiled in place as one plain group.
  // The sub-patterns hold no backslash, so this goes one level deep at most.
  Parser inner(sub, tree_);
  std::uint32_t root = 0;
  if (inner.Run(root) != CompileCode::Success || inner.pos_ != sub.size()) {
    return CompileCode::Unexpected;
  }
  // An abbreviation always counts as unable to match empty.
  tree_.nodes[root].canBeEmpty = false;
  item = root;
  return CompileCode::Success;
}

}  // namespace

CompileCode Parse(std::string_view pattern, SyntaxTree& tree) {
  tree = SyntaxTree{};
  // `^` is an anchor only as the very first byte of the whole pattern.
  if (!pattern.empty() && pattern.front() == '^') {
    tree.anchored = true;
    pattern.remove_prefix(1);
  }
  Parser parser(pattern, tree);
  return parser.Run(tree.root);
}

}  // namespace sentrel::pattern::detail
