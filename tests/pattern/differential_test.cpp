// The engines against the simple reference implementation: the same compile
// code, and for compiled patterns the same answer, whole match and groups from
// the backtracker (with and without its memo), and the same answer from the
// rule test (automaton, literal searches or memoised backtracker) and from an
// automaton without room for states.
// Exhaustively over all short patterns on small alphabets of the dialect's
// special bytes, and over random longer ones with a fixed seed.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "filter/pattern/rule_pattern.h"
#include "tests/pattern/reference_matcher.h"

namespace sentrel::pattern {
namespace {

std::string Show(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Compares engine and reference on one pattern over all subjects; appends a
// description of the first difference found to `report`. Returns the number
// of differences.
int Compare(const std::string& pattern, const std::vector<std::string>& subjects, bool caseSensitive,
            std::string& report, std::size_t* compiledCount = nullptr) {
  RulePattern engine;
  const int code = static_cast<int>(engine.Compile(pattern, caseSensitive));
  const reference::Compiled simple(pattern, caseSensitive);
  if (code != simple.code()) {
    if (report.size() < 2000) {
      report += "pattern \"" + Show(pattern) + "\": code " + std::to_string(code) + ", reference " +
                std::to_string(simple.code()) + "\n";
    }
    return 1;
  }
  if (code != 0) return 0;
  if (compiledCount != nullptr) ++*compiledCount;
  // The same pattern with an automaton that may keep only its first state,
  // so that every search runs through the simulation it falls back to.
  RulePattern starved;
  starved.SetAutomatonBudget(0);
  starved.Compile(pattern, caseSensitive);
  PatternMatch plain;
  PatternMatch memo;
  memo.SetMemo(true);
  int differences = 0;
  for (const std::string& subject : subjects) {
    const reference::Outcome want = simple.Search(subject);
    // The backtracker, without and with its memo: the same match and groups.
    // The rule test (the automaton, the literal searches or the memoised
    // backtracker, as the pattern chooses) and the starved automaton: the
    // same answer.
    for (PatternMatch* m : {&plain, &memo}) {
      const bool found = engine.Match(subject, *m);
      bool same = found == want.found && !m->budgetExhausted();
      if (same && found) {
        same = m->start() == want.start && m->end() == want.end && m->groupCount() == want.groups.size();
        for (std::uint32_t g = 0; same && g < m->groupCount(); ++g) {
          same = m->groupStart(g) == want.groups[g].first && m->groupEnd(g) == want.groups[g].second;
        }
      }
      const bool ruleTest = engine.Found(subject);
      const bool starvedTest = starved.Found(subject);
      same = same && ruleTest == want.found && starvedTest == want.found;
      if (!same) {
        ++differences;
        if (report.size() < 2000) {
          std::ostringstream line;
          line << "pattern \"" << Show(pattern) << "\" subject \"" << Show(subject) << "\": engine"
               << (m == &memo ? " (memo) " : " ")
               << (found ? "found " + std::to_string(m->start()) + "-" + std::to_string(m->end()) : "not found")
               << ", rule test " << ruleTest << " (" << EngineName(engine.engine()) << "), starved " << starvedTest
               << ", reference "
               << (want.found ? "found " + std::to_string(want.start) + "-" + std::to_string(want.end) : "not found")
               << "\n";
          report += line.str();
        }
        break;
      }
    }
  }
  return differences;
}

// Every string over `alphabet` of length 0 to `maxLength`.
std::vector<std::string> AllStrings(std::string_view alphabet, int maxLength) {
  std::vector<std::string> out{""};
  std::size_t from = 0;
  for (int length = 1; length <= maxLength; ++length) {
    const std::size_t to = out.size();
    for (std::size_t i = from; i < to; ++i) {
      for (char c : alphabet) out.push_back(out[i] + c);
    }
    from = to;
  }
  return out;
}

// Runs every pattern of `patternAlphabet` up to `patternLength` against
// every subject of `subjectAlphabet` up to `subjectLength`.
void Exhaustive(std::string_view patternAlphabet, int patternLength, std::string_view subjectAlphabet,
                int subjectLength, bool caseSensitive = true) {
  const std::vector<std::string> subjects = AllStrings(subjectAlphabet, subjectLength);
  std::string report;
  int differences = 0;
  std::size_t patterns = 0;
  std::size_t compiled = 0;
  for (const std::string& pattern : AllStrings(patternAlphabet, patternLength)) {
    ++patterns;
    differences += Compare(pattern, subjects, caseSensitive, report, &compiled);
  }
  EXPECT_EQ(differences, 0) << report;
  // The alphabets must produce a fair share of patterns that compile.
  EXPECT_GT(compiled * 10, patterns) << compiled << " of " << patterns << " compiled";
}

// Operators, groups, classes, anchors and escapes: 16 bytes, patterns of up
// to four of them.
TEST(Differential, SpecialBytesUpToFour) {
  Exhaustive("ab(){}|*+?![]^$\\", 4, "ab", 3);
}

// Back-references, ranges and escapes, up to five bytes.
TEST(Differential, ReferencesRangesEscapesUpToFive) {
  Exhaustive("a{}\\0[-]", 5, "ab-", 2);
}

// Loops, look-ahead and alternation around match groups, up to five bytes.
TEST(Differential, LoopsAndLookAheadUpToFive) {
  Exhaustive("a{}*+?!|", 5, "ab", 3);
}

TEST(Differential, CaseInsensitive) {
  Exhaustive("aA{}\\0[-]", 4, "aAb", 2, false);
}

TEST(Differential, RandomLongerPatterns) {
  std::mt19937 random(20240611);
  const std::string alphabet = "ab(){}|*+?![]^$\\0-.dqnwz";
  const std::string subjectAlphabet = "ab-\r\n\"'0";
  std::uniform_int_distribution<int> patternLength(5, 12);
  std::uniform_int_distribution<int> subjectLength(0, 6);
  std::uniform_int_distribution<std::size_t> pickPattern(0, alphabet.size() - 1);
  std::uniform_int_distribution<std::size_t> pickSubject(0, subjectAlphabet.size() - 1);
  std::string report;
  int differences = 0;
  for (int i = 0; i < 10000; ++i) {
    std::string pattern;
    for (int n = patternLength(random); n > 0; --n) pattern += alphabet[pickPattern(random)];
    std::vector<std::string> subjects(4);
    for (auto& s : subjects) {
      for (int n = subjectLength(random); n > 0; --n) s += subjectAlphabet[pickSubject(random)];
    }
    differences += Compare(pattern, subjects, true, report);
  }
  EXPECT_EQ(differences, 0) << report;
}

// Hand-picked patterns on longer subjects.
TEST(Differential, Table) {
  struct Group {
    std::vector<std::string> patterns;
    std::vector<std::string> subjects;
  };
  const Group groups[] = {
      {{"ab|cd", "(ab)|(cd)", "{a|(ab)}{c|(bcd)}", "({\\d}-)+\\0", "{a\\0}+", "(!a.)+", "{(!a|b)*}c", "\\q+", "\\n+",
        "{\\w+} {\\0}", "^{.*?}=\\z&", "[^&=]+=[^&]*", "{[a-c]+}\\0", "(a|b)*?b", "a!b", "!!a", "x[^a]", "\\z?x",
        "{x?}x", "(ab)*?c", "a.*?b$", "({a}|{b})+\\1", "/\\w+/\\w+/", "{\\w+}+b", "{\\w+}*\\0", "{[a-c]+}*\\0d",
        "(\\d+)+-", "{(a+)+}b\\0", "{[ab]+}+?c", "(({a+}))+b\\0", "({(a+)})*a"},
       {"", "abd", "acd", "cd", "abcd", "1-2-1-1", "aaaa", "bcad", "bbbc", "'a'\"b\"", "\r\n\n\r", "abc abc",
        "id=12&x=3", "ccacca", "abab", "axxbb", "xb", "x", "ab=cd&ef=gh", "aabba", "/ab/cd/", "/ab/c-d/e/",
        "abcabcd", "aabbabaab", "12-", "/a1/bb/cc/"}},
      // Back-references after runs of one to four byte ranges, of more
      // (tested byte by byte) and of every byte, on subjects longer than the
      // 16-byte blocks in which runs and start bytes are searched: runs that
      // end in the first, a later or the last (overlapping) block, or at the
      // end; start bytes only past a zero byte.
      {{"[?&]{\\w}=[^&]*&\\0=", "{[^-]*}-\\0", "{\\d+}.*\\0", "{[a-c0-2x-z]+}-\\0", "{[abd-egi-jlx-z]+}-\\0-",
        "[^a]+b", "x{[xyz]+}x-\\0"},
       {"", "x", "ab=cd&ef=gh", "?a=1&a=", "/p?id=1234567890abcdefghij&name=report&id=7&id=8",
        "?aa=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx&bb=yyyyyyyyyyyyyyyyy&aa", "abcabcabcabcabcabc-abcabcabcabcabcabc-x",
        "1234567890123456789-1234567890123456789", std::string("abcdefghijklmnopqrstuvwx\0?id=1&id=2", 36),
        "xyzzyxxyzzyx-xyzzyxxyzzyx-ab-ab"}},
  };
  std::string report;
  int differences = 0;
  for (const Group& group : groups) {
    for (const std::string& pattern : group.patterns) differences += Compare(pattern, group.subjects, true, report);
  }
  EXPECT_EQ(differences, 0) << report;
}

}  // namespace
}  // namespace sentrel::pattern
