// RulePattern::Compile: pattern text to a flat instruction list.
//
// The parser (parser.cpp) builds a syntax tree whose nodes come after their
// children. Code is generated in two passes over that vector without
// recursion: sizes bottom-up in node order, then instructions top-down in
// reverse node order, each node placing its children.
//
// Shapes of the generated code (`k` is a loop's position slot):
//   x?   split L1, E / L1: x / E:            (x??: split E, L1)
//   x*   split L1, E / L1: set k / x / loop k, L1 / E:        (x*?: split E, L1)
//   x+   clear k / jump L2 / L1: set k / L2: x / loop k, L1 / E:
//   a|b|c  split La, N1 / La: a / jump E / N1: split Lb, Lc / Lb: b / jump E / Lc: c / E:
//   {x}  set open(g) / x / capture g
//   !x   look L / x / matched / L:
// An item that always consumes exactly one byte (a literal, `.`, a class, or
// a plain group or alternation made only of such items) is one instruction,
// and `*` or `+` on it is one repeat instruction. Consecutive literal bytes
// of a sequence form one string instruction. A greedy `*` or `+` whose group
// holds only a greedy `+` run (as in `\w+`) keeps just the run: see
// IsRunOfRuns.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <queue>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filter/pattern/automaton.h"
#include "filter/pattern/program.h"
#include "filter/pattern/rule_pattern.h"
#include "filter/pattern/syntax.h"

namespace sentrel::pattern {

using detail::ByteSet;
using detail::Instruction;
using detail::Node;
using detail::NodeKind;
using detail::OneByte;
using detail::Op;
using detail::Quantifier;
using detail::SyntaxTree;

const char* CompileCodeMeaning(CompileCode code) {
  switch (code) {
    case CompileCode::Success: return "success";
    case CompileCode::OutOfMemory: return "out of memory";
    case CompileCode::BraceExpected: return "} expected";
    case CompileCode::ParenExpected: return ") expected";
    case CompileCode::BracketExpected: return "] expected";
    case CompileCode::Unexpected: return "unexpected";
    case CompileCode::EmptyClass: return "empty class";
    case CompileCode::InvalidGroup: return "invalid group";
    case CompileCode::InvalidRange: return "invalid range";
    case CompileCode::EmptyRepetition: return "empty repetition";
    case CompileCode::InvalidInput: return "invalid input";
  }
  return "unknown";
}

const char* EngineName(Engine engine) {
  switch (engine) {
    case Engine::Literal: return "literal search";
    case Engine::LiteralSet: return "literal set search";
    case Engine::Automaton: return "automaton";
    case Engine::MemoBacktracker: return "backtracker with memo";
  }
  return "unknown";
}

class Compiler {
 public:
  Compiler(RulePattern& out, const SyntaxTree& tree) : out_(out), tree_(tree) {}

  // False when the program would not fit the instruction addresses.
  bool Generate();
  void AnalyseStart();
  void MarkPossessiveLoops();
  void PrepareRunRanges();
  void PrepareStartLimits();
  // Prefilters, the memo's layout and the engine of Found.
  void ChooseEngine();

 private:
  static constexpr std::uint32_t kUnplaced = std::numeric_limits<std::uint32_t>::max();

  const Node& NodeAt(std::uint32_t i) const { return tree_.nodes[i]; }
  std::uint32_t Child(const Node& n, std::uint32_t k) const { return tree_.children[n.firstChild + k]; }
  static bool IsLiteral(const Node& n) { return n.oneByte == OneByte::Byte; }
  bool IsRunOfRuns(const Node& n) const;
  bool FirstBytes(std::uint32_t from, ByteSet& first) const;
  bool AppendLiteral(std::uint32_t i, std::string& out) const;
  void FindLiteralChoice();
  void PrepareMemo();

  std::uint64_t SequenceSize(const Node& n) const;
  std::uint64_t SizeOf(std::uint32_t i) const;
  std::uint32_t EmitSequence(const Node& n, std::uint32_t pc);
  void Emit(std::uint32_t i, std::uint32_t at);
  std::uint32_t SetFor(const Node& n);
  void Put(std::uint32_t at, Op op, std::uint32_t a = 0, std::uint32_t b = 0, std::uint8_t byte = 0) {
    out_.program_[at] = Instruction{op, byte, a, b};
  }

  RulePattern& out_;
  const SyntaxTree& tree_;
  std::vector<std::uint32_t> size_;
  std::vector<std::uint32_t> place_;
  std::uint32_t nextLoopSlot_ = 0;
  bool topLevel_ = false;
  // Where the literal runs of the top-level sequence stand.
  std::vector<std::uint32_t> topLiterals_;
};

std::uint64_t Compiler::SequenceSize(const Node& n) const {
  std::uint64_t total = 0;
  bool inRun = false;
  for (std::uint32_t k = 0; k < n.childCount; ++k) {
    const std::uint32_t c = Child(n, k);
    if (IsLiteral(NodeAt(c))) {
      if (!inRun) ++total;
      inRun = true;
    } else {
      total += size_[c];
      inRun = false;
    }
  }
  return total;
}

std::uint64_t Compiler::SizeOf(std::uint32_t i) const {
  const Node& n = NodeAt(i);
  if (n.oneByte != OneByte::No) return 1;
  switch (n.kind) {
    case NodeKind::Byte:
    case NodeKind::Any:
    case NodeKind::Class:
    case NodeKind::End:
    case NodeKind::BackReference:
      return 1;
    case NodeKind::Group:
      return SequenceSize(n) + (n.group >= 0 ? 2 : 0);
    case NodeKind::Alternation: {
      std::uint64_t total = 2 * (std::uint64_t{n.childCount} - 1);
      for (std::uint32_t k = 0; k < n.childCount; ++k) total += size_[Child(n, k)];
      return total;
    }
    case NodeKind::Quantified: {
      const std::uint32_t c = Child(n, 0);
      if (n.quantifier == Quantifier::Optional) return size_[c] + 1;
      if (NodeAt(c).oneByte != OneByte::No) return 1;
      if (IsRunOfRuns(n)) return size_[c] + (n.quantifier == Quantifier::Star ? 1 : 0);
      return size_[c] + (n.quantifier == Quantifier::Star ? 3 : 4);
    }
    case NodeKind::LookAhead:
      return size_[Child(n, 0)] + 2;
  }
  return 0;
}

// A greedy `*` or `+` over a group that holds nothing but a greedy `+` on a
// one-byte item, as in `\w+` (`([a-zA-Z]+)+`). Run as written, every way of
// cutting a run of matching bytes into repetitions is tried before the loop
// gives up, which doubles the work with each byte of the run. The outer loop
// adds nothing: the inner run already reaches every end position, and the
// first time the loop reaches each end it does so in one repetition, longest
// end first, exactly as the inner run alone does. So the outer `+` is dropped
// and the outer `*` becomes `?`: the same match and the same group contents,
// found without the blow-up.
bool Compiler::IsRunOfRuns(const Node& n) const {
  if (n.kind != NodeKind::Quantified || n.lazy || n.quantifier == Quantifier::Optional) return false;
  // Groups around the run, match groups or not, may be nested.
  const Node* group = &NodeAt(Child(n, 0));
  if (group->kind != NodeKind::Group || group->childCount != 1) return false;
  while (NodeAt(Child(*group, 0)).kind == NodeKind::Group) {
    group = &NodeAt(Child(*group, 0));
    if (group->childCount != 1) return false;
  }
  const Node& run = NodeAt(Child(*group, 0));
  return run.kind == NodeKind::Quantified && !run.lazy && run.quantifier == Quantifier::Plus &&
         NodeAt(Child(run, 0)).oneByte != OneByte::No;
}

bool Compiler::Generate() {
  const std::size_t count = tree_.nodes.size();
  constexpr std::uint64_t kLimit = std::numeric_limits<std::int32_t>::max();
  size_.assign(count, 0);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t s = SizeOf(i);
    if (s > kLimit) return false;
    size_[i] = static_cast<std::uint32_t>(s);
  }
  const Node& root = NodeAt(tree_.root);
  const std::uint64_t total = SequenceSize(root) + 1;
  if (total > kLimit) return false;

  out_.classes_ = tree_.classes;
  out_.groupCount_ = tree_.groupCount;
  nextLoopSlot_ = 3 * tree_.groupCount;
  out_.program_.assign(static_cast<std::size_t>(total), Instruction{Op::Match});
  place_.assign(count, kUnplaced);

  // The whole pattern: its sequence, then success.
  topLevel_ = true;
  const std::uint32_t end = EmitSequence(root, 0);
  topLevel_ = false;
  Put(end, Op::Match);
  // Parents come after their children, so walking backwards places every
  // node before its children are reached. Nodes never placed belong to
  // dropped alternations or were folded into their parent's instruction.
  for (std::uint32_t i = static_cast<std::uint32_t>(count); i-- > 0;) {
    if (i != tree_.root && place_[i] != kUnplaced) Emit(i, place_[i]);
  }
  out_.slotCount_ = nextLoopSlot_;
  return true;
}

std::uint32_t Compiler::EmitSequence(const Node& n, std::uint32_t pc) {
  std::uint32_t k = 0;
  while (k < n.childCount) {
    const std::uint32_t c = Child(n, k);
    if (!IsLiteral(NodeAt(c))) {
      place_[c] = pc;
      pc += size_[c];
      ++k;
      continue;
    }
    std::uint32_t runEnd = k;
    while (runEnd < n.childCount && IsLiteral(NodeAt(Child(n, runEnd)))) ++runEnd;
    if (runEnd - k == 1) {
      Put(pc, Op::Byte, 0, 0, NodeAt(c).byte);
    } else {
      const auto offset = static_cast<std::uint32_t>(out_.literals_.size());
      for (std::uint32_t j = k; j < runEnd; ++j) out_.literals_.push_back(static_cast<char>(NodeAt(Child(n, j)).byte));
      Put(pc, Op::String, offset, runEnd - k);
    }
    if (topLevel_) topLiterals_.push_back(pc);
    if (topLevel_ && runEnd - k > out_.requiredLiteral_.size()) {
      // Every match passes through the top-level sequence, so it contains
      // this run.
      out_.requiredLiteral_.clear();
      for (std::uint32_t j = k; j < runEnd; ++j) {
        out_.requiredLiteral_.push_back(static_cast<char>(NodeAt(Child(n, j)).byte));
      }
    }
    ++pc;
    k = runEnd;
  }
  return pc;
}

std::uint32_t Compiler::SetFor(const Node& n) {
  if (n.oneByte == OneByte::Set) return n.set;
  ByteSet set;
  if (n.oneByte == OneByte::Any) {
    set.AddAll();
  } else {
    set.Add(n.byte);
  }
  out_.classes_.push_back(set);
  return static_cast<std::uint32_t>(out_.classes_.size() - 1);
}

void Compiler::Emit(std::uint32_t i, std::uint32_t at) {
  const Node& n = NodeAt(i);
  switch (n.oneByte) {
    case OneByte::Byte: Put(at, Op::Byte, 0, 0, n.byte); return;
    case OneByte::Any: Put(at, Op::Any); return;
    case OneByte::Set: Put(at, Op::Class, n.set); return;
    case OneByte::No: break;
  }
  const std::uint32_t end = at + size_[i];
  switch (n.kind) {
    case NodeKind::Byte:
    case NodeKind::Any:
    case NodeKind::Class:
      return;  // always one-byte, handled above
    case NodeKind::End:
      Put(at, Op::End);
      return;
    case NodeKind::BackReference:
      Put(at, Op::BackReference, static_cast<std::uint32_t>(n.group));
      return;
    case NodeKind::Group: {
      if (n.group < 0) {
        EmitSequence(n, at);
        return;
      }
      const auto g = static_cast<std::uint32_t>(n.group);
      const std::uint32_t open = 2 * out_.groupCount_ + g;
      Put(at, Op::SetSlot, open);
      const std::uint32_t pc = EmitSequence(n, at + 1);
      Put(pc, Op::Capture, g, open);
      return;
    }
    case NodeKind::Alternation: {
      std::uint32_t pc = at;
      for (std::uint32_t k = 0; k < n.childCount; ++k) {
        const std::uint32_t c = Child(n, k);
        if (k + 1 == n.childCount) {
          place_[c] = pc;
          break;
        }
        // Try this operand first; the rest are the alternative.
        const std::uint32_t next = pc + 1 + size_[c] + 1;
        Put(pc, Op::Split, pc + 1, next);
        place_[c] = pc + 1;
        Put(pc + 1 + size_[c], Op::Jump, end);
        pc = next;
      }
      return;
    }
    case NodeKind::Quantified: {
      const std::uint32_t c = Child(n, 0);
      const Node& operand = NodeAt(c);
      const std::uint8_t greedy = n.lazy ? 0 : 1;
      if (n.quantifier == Quantifier::Optional) {
        if (greedy) {
          Put(at, Op::Split, at + 1, end);
        } else {
          Put(at, Op::Split, end, at + 1);
        }
        place_[c] = at + 1;
        return;
      }
      if (IsRunOfRuns(n)) {
        if (n.quantifier == Quantifier::Star) {
          Put(at, Op::Split, at + 1, end);
          place_[c] = at + 1;
        } else {
          place_[c] = at;
        }
        return;
      }
      const std::uint32_t minimum = n.quantifier == Quantifier::Plus ? 1 : 0;
      if (operand.oneByte != OneByte::No) {
        Put(at, Op::Repeat, SetFor(operand), minimum, greedy);
        return;
      }
      const std::uint32_t slot = nextLoopSlot_++;
      std::uint32_t repetition = 0;  // where each further repetition begins
      if (n.quantifier == Quantifier::Star) {
        repetition = at + 1;
        if (greedy) {
          Put(at, Op::Split, repetition, end);
        } else {
          Put(at, Op::Split, end, repetition);
        }
      } else {
        // The first repetition of `+` is required and may consume nothing;
        // the empty-repetition check applies from the second on.
        Put(at, Op::ClearSlot, slot);
        Put(at + 1, Op::Jump, at + 3);
        repetition = at + 2;
      }
      Put(repetition, Op::SetSlot, slot);
      place_[c] = repetition + 1;
      Put(repetition + 1 + size_[c], Op::Loop, slot, repetition, greedy);
      return;
    }
    case NodeKind::LookAhead: {
      const std::uint32_t c = Child(n, 0);
      Put(at, Op::LookBegin, end);
      place_[c] = at + 1;
      Put(at + 1 + size_[c], Op::LookMatched);
      return;
    }
  }
}

// The bytes that the first byte consumed from `pc` on can be, following every
// path that consumes nothing. False (nothing known) when a path can succeed
// without consuming (the end of the program, or the end of a look-ahead's
// item), or meets a back-reference, which may consume nothing or anything,
// or `.`. A look-ahead's own item is not followed: it consumes nothing either
// way, so only what comes after it decides the first byte. `$` needs the end
// of the subject and adds no byte.
bool Compiler::FirstBytes(std::uint32_t from, ByteSet& first) const {
  const RulePattern& p = out_;
  std::vector<bool> seen(p.program_.size(), false);
  std::vector<std::uint32_t> work{from};
  while (!work.empty()) {
    const std::uint32_t pc = work.back();
    work.pop_back();
    if (seen[pc]) continue;
    seen[pc] = true;
    const Instruction& in = p.program_[pc];
    switch (in.op) {
      case Op::Byte: first.Add(in.byte); break;
      case Op::String: first.Add(static_cast<unsigned char>(p.literals_[in.a])); break;
      case Op::Class: first.Merge(p.classes_[in.a]); break;
      case Op::Repeat:
        first.Merge(p.classes_[in.a]);
        if (in.b == 0) work.push_back(pc + 1);
        break;
      case Op::End: break;
      case Op::Jump: work.push_back(in.a); break;
      case Op::Split:
        work.push_back(in.a);
        work.push_back(in.b);
        break;
      case Op::SetSlot:
      case Op::ClearSlot:
      case Op::Capture:
        work.push_back(pc + 1);
        break;
      case Op::Loop:
        work.push_back(pc + 1);
        work.push_back(in.b);
        break;
      case Op::LookBegin: work.push_back(in.a); break;
      case Op::Any:
      case Op::LookMatched:
      case Op::BackReference:
      case Op::Match:
        return false;
    }
  }
  return true;
}

// Finds which bytes can begin a match, so that start positions whose byte
// cannot are skipped without running the interpreter.
void Compiler::AnalyseStart() {
  RulePattern& p = out_;
  p.startMode_ = RulePattern::StartMode::EveryPosition;
  if (p.anchored_) return;
  if (p.program_.size() == 2 && p.program_[0].op == Op::String && p.program_[1].op == Op::Match) {
    p.startMode_ = RulePattern::StartMode::Literal;
    return;
  }
  ByteSet first;
  if (!FirstBytes(0, first) || first.Full()) return;
  if (first.Count() == 1) {
    for (unsigned b = 0; b < 256; ++b) {
      if (first.Test(static_cast<unsigned char>(b))) p.startByte_ = static_cast<unsigned char>(b);
    }
    p.startMode_ = RulePattern::StartMode::FirstByte;
    return;
  }
  p.startSet_ = first;
  p.startMode_ = RulePattern::StartMode::FirstSet;
  if (first.Count() <= 8) {
    std::string bytes;
    for (unsigned b = 0; b < 256; ++b) {
      if (first.Test(static_cast<unsigned char>(b))) bytes.push_back(static_cast<char>(b));
    }
    p.startChoice_ = detail::ByteChoice(bytes);
  }
}

// A greedy one-byte loop gives back its bytes one by one when what follows
// fails. When what follows must begin with a byte outside the loop's set (as
// in `[^&]*&` or `\d+x`), every given-back position holds a byte of the set,
// so no give-back can succeed: the loop keeps its bytes (it is marked
// possessive, `byte` 2). Matches, groups and answers stay the same.
void Compiler::MarkPossessiveLoops() {
  RulePattern& p = out_;
  for (std::size_t pc = 0; pc + 1 < p.program_.size(); ++pc) {
    Instruction& in = p.program_[pc];
    if (in.op != Op::Repeat || in.byte != 1) continue;
    ByteSet next;
    if (!FirstBytes(static_cast<std::uint32_t>(pc + 1), next)) continue;
    const ByteSet& run = p.classes_[in.a];
    bool disjoint = true;
    for (int w = 0; w < 4; ++w) disjoint = disjoint && (run.bits[w] & next.bits[w]) == 0;
    if (disjoint) in.byte = 2;
  }
}

// The ranges of the classes that greedy one-byte loops test, for a vector
// search of where their runs end (`.` needs none: its run ends at the end).
void Compiler::PrepareRunRanges() {
  RulePattern& p = out_;
  for (const Instruction& in : p.program_) {
    if (in.op != Op::Repeat || in.byte == 0 || p.classes_[in.a].Full()) continue;
    const detail::ByteRanges ranges = detail::ByteRanges::Of(p.classes_[in.a]);
    if (ranges.count == 0) continue;
    if (p.runRanges_.empty()) p.runRanges_.resize(p.classes_.size());
    p.runRanges_[in.a] = ranges;
  }
}

// The fewest bytes consumed on the way from the first instruction to each
// instruction (a back-reference, `$` and a look-ahead count nothing), by
// Dijkstra's search; the fewest to any Match is the shortest match. Start
// positions with fewer bytes left are not tried. Every match also passes the
// literal runs of the top-level sequence in order, so each of their bytes
// stands at least its distance after the match's start: a start position
// past the last such byte, less that distance, cannot match either.
void Compiler::PrepareStartLimits() {
  RulePattern& p = out_;
  constexpr std::uint64_t kFar = std::numeric_limits<std::uint64_t>::max();
  const std::size_t count = p.program_.size();
  std::vector<std::uint64_t> distance(count, kFar);
  using Entry = std::pair<std::uint64_t, std::uint32_t>;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
  auto reach = [&](std::uint32_t pc, std::uint64_t d) {
    if (pc < count && d < distance[pc]) {
      distance[pc] = d;
      queue.emplace(d, pc);
    }
  };
  reach(0, 0);
  std::uint64_t shortest = kFar;
  while (!queue.empty()) {
    const auto [d, pc] = queue.top();
    queue.pop();
    if (d != distance[pc]) continue;
    const Instruction& in = p.program_[pc];
    switch (in.op) {
      case Op::Byte:
      case Op::Any:
      case Op::Class: reach(pc + 1, d + 1); break;
      case Op::String: reach(pc + 1, d + in.b); break;
      case Op::Repeat: reach(pc + 1, d + in.b); break;
      case Op::Jump: reach(in.a, d); break;
      case Op::Split:
        reach(in.a, d);
        reach(in.b, d);
        break;
      case Op::Loop:
        reach(pc + 1, d);
        reach(in.b, d);
        break;
      case Op::LookBegin:
        reach(in.a, d);
        reach(pc + 1, d);
        break;
      case Op::End:
      case Op::SetSlot:
      case Op::ClearSlot:
      case Op::Capture:
      case Op::BackReference: reach(pc + 1, d); break;
      case Op::LookMatched: break;
      case Op::Match: shortest = std::min(shortest, d); break;
    }
  }
  p.minLength_ = shortest == kFar ? 0 : shortest;
  std::vector<RulePattern::LaterByte> later;
  for (const std::uint32_t pc : topLiterals_) {
    if (distance[pc] == kFar) continue;
    const Instruction& in = p.program_[pc];
    const std::string_view run = in.op == Op::Byte ? std::string_view(reinterpret_cast<const char*>(&in.byte), 1)
                                                   : std::string_view(p.literals_).substr(in.a, in.b);
    for (std::size_t j = 0; j < run.size(); ++j) {
      const auto byte = static_cast<unsigned char>(run[j]);
      const std::uint64_t offset = distance[pc] + j;
      auto same = std::find_if(later.begin(), later.end(), [&](const auto& l) { return l.byte == byte; });
      if (same == later.end()) {
        later.push_back({byte, offset});
      } else {
        same->offset = std::max(same->offset, offset);
      }
    }
  }
  std::stable_sort(later.begin(), later.end(), [](const auto& x, const auto& y) { return x.offset > y.offset; });
  p.laterByteCount_ = static_cast<std::uint8_t>(std::min(later.size(), p.laterBytes_.size()));
  std::copy_n(later.begin(), p.laterByteCount_, p.laterBytes_.begin());
}

// A literal byte, or a group of nothing but literal bytes: its text.
bool Compiler::AppendLiteral(std::uint32_t i, std::string& out) const {
  const Node& n = NodeAt(i);
  if (n.kind == NodeKind::Byte) {
    out.push_back(static_cast<char>(n.byte));
    return true;
  }
  if (n.kind != NodeKind::Group || n.childCount == 0) return false;
  for (std::uint32_t k = 0; k < n.childCount; ++k) {
    const Node& c = NodeAt(Child(n, k));
    if (c.kind != NodeKind::Byte) return false;
    out.push_back(static_cast<char>(c.byte));
  }
  return true;
}

// A choice between literal texts that stands in the top-level sequence, as
// in `(bot)|(spider)|(crawl)`, must be passed by every match: a subject that
// contains none of the texts cannot match. Of several such choices the one
// whose shortest text is longest is kept; large choices are not worth the
// searches.
void Compiler::FindLiteralChoice() {
  constexpr std::uint32_t kMaxTexts = detail::LiteralSet::kMaxTexts;
  const Node& root = NodeAt(tree_.root);
  std::size_t bestShortest = 0;
  for (std::uint32_t k = 0; k < root.childCount; ++k) {
    const Node& n = NodeAt(Child(root, k));
    if (n.kind != NodeKind::Alternation || n.childCount > kMaxTexts) continue;
    std::vector<std::string> texts(n.childCount);
    bool literal = true;
    std::size_t shortest = std::numeric_limits<std::size_t>::max();
    for (std::uint32_t j = 0; literal && j < n.childCount; ++j) {
      literal = AppendLiteral(Child(n, j), texts[j]);
      shortest = std::min(shortest, texts[j].size());
    }
    if (literal && shortest > bestShortest) {
      bestShortest = shortest;
      out_.requiredAnyOf_ = detail::LiteralSet(texts);
    }
  }
}

// Where the memoised backtracker remembers states: every instruction that
// more than one path can reach (targets of jumps, choices and loops, and the
// instruction after a one-byte loop, which gives back bytes one by one).
// What can still match from a state depends on the instruction, the
// position, whether each loop's current repetition has consumed anything yet
// (a repetition that consumed nothing fails), and the text captured by each
// group that a back-reference names; those slots form the rest of the key.
void Compiler::PrepareMemo() {
  RulePattern& p = out_;
  const std::size_t count = p.program_.size();
  p.memoPoint_.assign(count + 1, 0);
  for (std::size_t pc = 0; pc < count; ++pc) {
    const Instruction& in = p.program_[pc];
    switch (in.op) {
      case Op::Jump: p.memoPoint_[in.a] = 1; break;
      case Op::Split:
        p.memoPoint_[in.a] = 1;
        p.memoPoint_[in.b] = 1;
        break;
      case Op::Loop:
        p.memoPoint_[in.b] = 1;
        p.memoPoint_[pc + 1] = 1;
        break;
      case Op::Repeat: p.memoPoint_[pc + 1] = 1; break;
      case Op::LookBegin: p.memoPoint_[in.a] = 1; break;
      case Op::BackReference: {
        const std::uint32_t g = in.a;
        for (std::uint32_t slot : {2 * g, 2 * g + 1, 2 * p.groupCount_ + g}) {
          if (std::find(p.memoSlots_.begin(), p.memoSlots_.end(), slot) == p.memoSlots_.end()) {
            p.memoSlots_.push_back(slot);
          }
        }
        break;
      }
      default: break;
    }
  }
  p.memoPoint_.resize(count);
  const std::size_t loops = p.slotCount_ - 3 * std::size_t{p.groupCount_};
  const std::size_t words = 2 + (loops + 63) / 64 + p.memoSlots_.size();
  // A key this long costs more than the memo saves.
  constexpr std::size_t kMaxKeyWords = 64;
  p.memoKeyWords_ = words <= kMaxKeyWords ? static_cast<std::uint32_t>(words) : 0;
}

void Compiler::ChooseEngine() {
  RulePattern& p = out_;
  FindLiteralChoice();
  PrepareMemo();
  const Op firstOp = p.program_[0].op;
  p.skipFirst_ = !p.memoPoint_[0] &&
                 ((p.startMode_ == RulePattern::StartMode::FirstByte && firstOp == Op::Byte) ||
                  (p.startMode_ == RulePattern::StartMode::FirstSet && firstOp == Op::Class));
  if (!p.caseSensitive_) p.requiredAnyOf_ = {};  // the subject's case is folded later
  const bool plain = p.caseSensitive_ && !p.anchored_;
  if (plain && p.program_.size() == 2 && (p.program_[0].op == Op::String || p.program_[0].op == Op::Byte)) {
    // The whole pattern is one literal text.
    const Instruction& in = p.program_[0];
    p.requiredLiteral_ = in.op == Op::Byte ? std::string(1, static_cast<char>(in.byte))
                                            : p.literals_.substr(in.a, in.b);
    p.engine_ = Engine::Literal;
    return;
  }
  const Node& root = NodeAt(tree_.root);
  if (plain && !p.requiredAnyOf_.empty() && root.childCount == 1) {
    p.engine_ = Engine::LiteralSet;
    return;
  }
  ByteSet first;
  const ByteSet* start = nullptr;
  switch (p.startMode_) {
    case RulePattern::StartMode::FirstByte: first.Add(p.startByte_); start = &first; break;
    case RulePattern::StartMode::FirstSet: start = &p.startSet_; break;
    case RulePattern::StartMode::Literal:
      first.Add(static_cast<unsigned char>(p.literals_[p.program_[0].a]));
      start = &first;
      break;
    case RulePattern::StartMode::EveryPosition: break;
  }
  try {
    p.automaton_ = detail::Automaton::Build(p.program_, p.classes_, p.literals_, p.anchored_, !p.caseSensitive_,
                                            start, p.automatonBudget_);
  } catch (const std::bad_alloc&) {
    p.automaton_.reset();
  }
  p.engine_ = p.automaton_ ? Engine::Automaton : Engine::MemoBacktracker;
}

RulePattern::RulePattern() : automatonBudget_(detail::Automaton::kDefaultCacheBytes) {}
RulePattern::~RulePattern() = default;
RulePattern::RulePattern(RulePattern&&) noexcept = default;
RulePattern& RulePattern::operator=(RulePattern&&) noexcept = default;

std::size_t RulePattern::automatonStates() const { return automaton_ ? automaton_->stateCount() : 0; }
std::size_t RulePattern::automatonBytes() const { return automaton_ ? automaton_->cacheBytes() : 0; }

void RulePattern::Reset() {
  program_.clear();
  classes_.clear();
  literals_.clear();
  groupCount_ = 0;
  slotCount_ = 0;
  anchored_ = false;
  startMode_ = StartMode::EveryPosition;
  startByte_ = 0;
  startSet_ = detail::ByteSet{};
  startChoice_ = {};
  skipFirst_ = false;
  minLength_ = 0;
  laterByteCount_ = 0;
  requiredLiteral_.clear();
  requiredProbe_ = {};
  requiredAnyOf_ = {};
  runRanges_.clear();
  engine_ = Engine::MemoBacktracker;
  automaton_.reset();
  memoPoint_.clear();
  memoSlots_.clear();
  memoKeyWords_ = 0;
}

CompileCode RulePattern::Compile(const char* pattern, bool caseSensitive) {
  return Compile(pattern == nullptr ? std::string_view{} : std::string_view{pattern}, caseSensitive);
}

CompileCode RulePattern::Compile(std::string_view pattern, bool caseSensitive) {
  Reset();
  caseSensitive_ = caseSensitive;
  if (pattern.data() == nullptr) {
    result_ = CompileCode::InvalidInput;
    return result_;
  }
  try {
    std::string_view text = UpToFirstZero(pattern);
    std::string lowered;
    if (!caseSensitive) {
      lowered.assign(text);
      for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      text = lowered;
    }
    SyntaxTree tree;
    result_ = detail::Parse(text, tree);
    if (result_ == CompileCode::Success) {
      anchored_ = tree.anchored;
      Compiler compiler(*this, tree);
      if (compiler.Generate()) {
        compiler.AnalyseStart();
        compiler.MarkPossessiveLoops();
        compiler.PrepareRunRanges();
        compiler.ChooseEngine();
        // Only the backtracker's rule tests are worth the search.
        if (engine_ == Engine::MemoBacktracker) compiler.PrepareStartLimits();
        requiredProbe_ = detail::ProbeOf(requiredLiteral_);
      } else {
        result_ = CompileCode::OutOfMemory;
      }
    }
  } catch (const std::bad_alloc&) {
    result_ = CompileCode::OutOfMemory;
  }
  if (result_ != CompileCode::Success) Reset();
  return result_;
}

std::size_t RulePattern::memoryUse() const {
  const std::size_t bytes = sizeof(*this) + program_.capacity() * sizeof(detail::Instruction) +
                      classes_.capacity() * sizeof(detail::ByteSet) + literals_.capacity() +
                      requiredLiteral_.capacity() + memoPoint_.capacity() +
                      memoSlots_.capacity() * sizeof(std::uint32_t) +
                      runRanges_.capacity() * sizeof(detail::ByteRanges);
  return bytes + requiredAnyOf_.memoryUse();
}

}  // namespace sentrel::pattern
