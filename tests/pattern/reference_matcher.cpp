#include "tests/pattern/reference_matcher.h"

#include <array>
#include <memory>
#include <string>

namespace sentrel::pattern::reference {
namespace {

struct Node;
using NodePtr = std::shared_ptr<Node>;

enum class Kind { kLiteral, kAny, kClass, kEnd, kBackReference, kGroup, kAlternation, kQuantified, kLook };

struct Node {
  Kind kind;
  unsigned char byte = 0;
  std::array<bool, 256> members{};
  int group = -1;  // kGroup: match group number or -1; kBackReference: group referred to
  bool abbreviation = false;
  std::vector<NodePtr> items;  // kGroup: the sequence; kAlternation: left and right
  NodePtr item;                // kQuantified, kLook
  char quantifier = 0;         // '*', '+' or '?'
  bool lazy = false;
};

NodePtr Make(Kind kind) {
  auto n = std::make_shared<Node>();
  n->kind = kind;
  return n;
}

NodePtr Literal(unsigned char b) {
  auto n = Make(Kind::kLiteral);
  n->byte = b;
  return n;
}

struct CompileError {
  int code;
};

// "Can match the empty string", by the dialect's rule (not by what the item
// really does).
bool CanBeEmpty(const Node& n) {
  switch (n.kind) {
    case Kind::kQuantified:
      return n.quantifier != '+' || n.lazy;
    case Kind::kGroup:
      if (n.abbreviation || n.items.empty()) return false;
      for (const auto& item : n.items) {
        if (!CanBeEmpty(*item)) return false;
      }
      return true;
    case Kind::kAlternation:
      return CanBeEmpty(*n.items[0]) || CanBeEmpty(*n.items[1]);
    case Kind::kLook:
      return CanBeEmpty(*n.item);
    default:
      return false;
  }
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  NodePtr Pattern(bool& anchored) {
    anchored = !s_.empty() && s_[0] == '^';
    if (anchored) i_ = 1;
    auto root = Make(Kind::kGroup);
    root->items = Sequence();
    // Whatever follows a stray closer is ignored.
    return root;
  }

  int groupsOpened() const { return groups_; }

 private:
  bool AtEnd() const { return i_ >= s_.size(); }
  unsigned char Peek() const { return static_cast<unsigned char>(s_[i_]); }
  bool AtCloser() const { return !AtEnd() && (Peek() == ')' || Peek() == ']' || Peek() == '}'); }

  std::vector<NodePtr> Sequence() {
    std::vector<NodePtr> items;
    while (NodePtr a = Alternation()) items.push_back(a);
    return items;
  }

  NodePtr Alternation() {
    NodePtr left = Quantified();
    if (!left) return nullptr;
    if (AtEnd() || Peek() != '|') return left;
    ++i_;
    NodePtr right = Alternation();
    if (!right) return nullptr;  // nothing after the bar: drop it all
    auto alt = Make(Kind::kAlternation);
    alt->items = {left, right};
    return alt;
  }

  NodePtr Quantified() {
    NodePtr item = Item();
    if (!item) return nullptr;
    if (AtEnd() || (Peek() != '*' && Peek() != '+' && Peek() != '?')) return item;
    auto q = Make(Kind::kQuantified);
    q->quantifier = static_cast<char>(Peek());
    ++i_;
    if (!AtEnd() && Peek() == '?') {
      q->lazy = true;
      ++i_;
    }
    if (q->quantifier != '?' && CanBeEmpty(*item)) throw CompileError{9};
    q->item = item;
    return q;
  }

  NodePtr Item() {
    if (AtEnd() || AtCloser()) return nullptr;
    const unsigned char c = Peek();
    if (c == '!') {
      ++i_;
      NodePtr inner = Item();
      if (!inner) return nullptr;
      auto look = Make(Kind::kLook);
      look->item = inner;
      return look;
    }
    if (c == '(' || c == '{') {
      auto g = Make(Kind::kGroup);
      if (c == '{') g->group = groups_++;
      ++i_;
      g->items = Sequence();
      const unsigned char closer = c == '(' ? ')' : '}';
      if (AtEnd() || Peek() != closer) throw CompileError{c == '(' ? 3 : 2};
      ++i_;
      return g;
    }
    if (c == '[') return Class();
    if (c == '\\') return Escape();
    ++i_;
    if (c == '.') return Make(Kind::kAny);
    if (c == '$' && i_ == s_.size()) return Make(Kind::kEnd);
    return Literal(c);
  }

  NodePtr Class() {
    ++i_;
    bool negated = false;
    if (!AtEnd() && Peek() == '^') {
      negated = true;
      ++i_;
    }
    if (!AtEnd() && Peek() == ']') throw CompileError{6};
    auto n = Make(Kind::kClass);
    for (;;) {
      if (AtEnd()) throw CompileError{4};
      unsigned char c = Peek();
      ++i_;
      if (c == ']') break;
      if (c == '\\') {
        if (AtEnd()) throw CompileError{4};
        c = Peek() == 't' ? '\t' : Peek();
        ++i_;
      }
      if (!AtEnd() && Peek() == '-') {
        ++i_;
        if (AtEnd() || Peek() == ']') throw CompileError{4};
        const unsigned char last = Peek();
        ++i_;
        if (last < c) throw CompileError{8};
        for (unsigned v = c; v <= last; ++v) n->members[v] = true;
      } else {
        n->members[c] = true;
      }
    }
    if (negated) {
      for (auto& m : n->members) m = !m;
    }
    return n;
  }

  NodePtr Escape() {
    ++i_;
    if (AtEnd()) throw CompileError{5};  // a lone backslash at the end
    const unsigned char c = Peek();
    if (c >= '0' && c <= '9') {
      unsigned long long number = 0;
      while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
        if (number < 1000000000ull) number = number * 10 + (Peek() - '0');
        ++i_;
      }
      if (number >= static_cast<unsigned long long>(groups_)) throw CompileError{7};
      auto ref = Make(Kind::kBackReference);
      ref->group = static_cast<int>(number);
      return ref;
    }
    ++i_;
    NodePtr sub = AbbreviationFor(c);
    if (!sub) return Literal(c);
    sub->abbreviation = true;
    return sub;
  }

  // The abbreviations, as plain groups.
  static NodePtr AbbreviationFor(unsigned char c) {
    const char* text = nullptr;
    switch (c) {
      case 'a': text = "([a-zA-Z0-9])"; break;
      case 'b': text = "([ \t])"; break;
      case 'c': text = "([a-zA-Z])"; break;
      case 'd': text = "([0-9])"; break;
      case 'h': text = "([0-9a-fA-F])"; break;
      case 'q': text = "(\"[^\"]*\")|('[^']*')"; break;
      case 'w': text = "([a-zA-Z]+)"; break;
      case 'z': text = "([0-9]+)"; break;
      case 'n': {
        // A CR, or an optional CR followed by an LF.
        auto optionalCr = Make(Kind::kQuantified);
        optionalCr->quantifier = '?';
        optionalCr->item = Literal('\r');
        auto crLf = Make(Kind::kGroup);
        crLf->items = {optionalCr, Literal('\n')};
        auto alt = Make(Kind::kAlternation);
        alt->items = {Literal('\r'), crLf};
        auto g = Make(Kind::kGroup);
        g->items = {alt};
        return g;
      }
      default:
        return nullptr;
    }
    Parser sub(text);
    bool anchored = false;
    return sub.Pattern(anchored);
  }

  std::string_view s_;
  std::size_t i_ = 0;
  int groups_ = 0;
};

// A non-owning reference to a callable taking a position: the matcher's
// continuations live on the stack of the calls that use them.
class Continuation {
 public:
  template <typename F>
  Continuation(const F& f)  // NOLINT: implicit by design
      : object_(&f), call_([](const void* o, std::size_t p) { return (*static_cast<const F*>(o))(p); }) {}
  bool operator()(std::size_t p) const { return call_(object_, p); }

 private:
  const void* object_;
  bool (*call_)(const void*, std::size_t);
};

class Matcher {
 public:

  Matcher(std::string_view subject, int groups) : s_(subject), caps_(groups, {kUnset, kUnset}) {}

  bool Match(const Node& n, std::size_t p, const Continuation& k) {
    const std::size_t size = s_.size();
    switch (n.kind) {
      case Kind::kLiteral:
        return p < size && static_cast<unsigned char>(s_[p]) == n.byte && k(p + 1);
      case Kind::kAny:
        return p < size && k(p + 1);
      case Kind::kClass:
        return p < size && n.members[static_cast<unsigned char>(s_[p])] && k(p + 1);
      case Kind::kEnd:
        return p == size && k(p);
      case Kind::kBackReference: {
        const auto [from, to] = caps_[n.group];
        if (from == kUnset) return k(p);
        const std::size_t length = to - from;
        return p + length <= size && s_.substr(p, length) == s_.substr(from, length) && k(p + length);
      }
      case Kind::kGroup:
        if (n.group < 0) return Sequence(n.items, 0, p, k);
        {
          const auto close = [&](std::size_t e) {
            const auto before = caps_[n.group];
            caps_[n.group] = {p, e};
            if (k(e)) return true;
            caps_[n.group] = before;
            return false;
          };
          return Sequence(n.items, 0, p, close);
        }
      case Kind::kAlternation:
        return Match(*n.items[0], p, k) || Match(*n.items[1], p, k);
      case Kind::kQuantified:
        if (n.quantifier == '?') {
          return n.lazy ? (k(p) || Match(*n.item, p, k)) : (Match(*n.item, p, k) || k(p));
        }
        if (n.quantifier == '*') return Loop(n, p, k);
        {
          // `+`: one repetition, then as `*`.
          const auto rest = [&](std::size_t e) { return Loop(n, e, k); };
          return Match(*n.item, p, rest);
        }
      case Kind::kLook: {
        const auto saved = caps_;
        const auto accept = [](std::size_t) { return true; };
        const bool matched = Match(*n.item, p, accept);
        caps_ = saved;
        return !matched && k(p);
      }
    }
    return false;
  }

  // Further repetitions of a `*` or `+` item; one that consumes nothing fails.
  bool Loop(const Node& q, std::size_t p, const Continuation& k) {
    const auto again = [&](std::size_t e) { return e != p && Loop(q, e, k); };
    if (q.lazy) return k(p) || Match(*q.item, p, again);
    return Match(*q.item, p, again) || k(p);
  }

  bool Sequence(const std::vector<NodePtr>& items, std::size_t index, std::size_t p, const Continuation& k) {
    if (index == items.size()) return k(p);
    const auto next = [&](std::size_t e) { return Sequence(items, index + 1, e, k); };
    return Match(*items[index], p, next);
  }

  std::vector<std::pair<std::size_t, std::size_t>>& captures() { return caps_; }

 private:
  std::string_view s_;
  std::vector<std::pair<std::size_t, std::size_t>> caps_;
};

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return out;
}

std::string_view Cut(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

struct Compiled::Tree {
  NodePtr root;
  bool anchored = false;
  int groups = 0;
};

Compiled::Compiled(std::string_view patternText, bool caseSensitive) : caseSensitive_(caseSensitive) {
  const std::string pattern = caseSensitive ? std::string(Cut(patternText)) : Lowered(Cut(patternText));
  Parser parser(pattern);
  tree_ = std::make_unique<Tree>();
  try {
    tree_->root = parser.Pattern(tree_->anchored);
    tree_->groups = parser.groupsOpened();
  } catch (const CompileError& e) {
    code_ = e.code;
    tree_.reset();
  }
}

Compiled::~Compiled() = default;

Outcome Compiled::Search(std::string_view subjectText) const {
  Outcome out;
  out.code = code_;
  if (code_ != 0) return out;
  const std::string subject = caseSensitive_ ? std::string(Cut(subjectText)) : Lowered(Cut(subjectText));
  // Start positions: 0 only when anchored; otherwise every byte, and 0 for
  // an empty subject.
  const std::size_t last = tree_->anchored || subject.empty() ? 0 : subject.size() - 1;
  for (std::size_t start = 0; start <= last; ++start) {
    Matcher m(subject, tree_->groups);
    std::size_t end = kUnset;
    const auto done = [&](std::size_t e) {
      end = e;
      return true;
    };
    if (m.Match(*tree_->root, start, done)) {
      out.found = true;
      out.start = start;
      out.end = end;
      out.groups = m.captures();
      return out;
    }
  }
  return out;
}

Outcome Run(std::string_view pattern, std::string_view subject, bool caseSensitive) {
  return Compiled(pattern, caseSensitive).Search(subject);
}

}  // namespace sentrel::pattern::reference
