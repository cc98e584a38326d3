// `sentrel match [-i] [-e] [-g] PATTERN [SUBJECT...]`: searches subjects for
// a rule pattern with the filter's own compiler and matcher.

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "filter/pattern/rule_pattern.h"
#include "tools/commands.h"

namespace sentrel::tools {
namespace {

const char kHelp[] =
    "usage: sentrel match [-i] [-e] [-g] PATTERN [SUBJECT...]\n"
    "\n"
    "Searches each SUBJECT for the rule pattern PATTERN with the filter's own\n"
    "pattern engine. Without SUBJECT arguments, subjects are read from standard\n"
    "input, one per line (LF or CR LF line ends are removed).\n"
    "\n"
    "For each subject one line is printed: \"yes START END\", the byte offsets\n"
    "of the whole match (END is one past its last byte), or \"no\". The\n"
    "positions come from the backtracking matcher, which follows the dialect's\n"
    "order of preference.\n"
    "\n"
    "  -i    compile the pattern case-insensitively (letters A to Z)\n"
    "  -e    first print \"engine NAME\": the engine that answers the filter's\n"
    "        rule test for this pattern (literal search, literal set search,\n"
    "        automaton, or backtracker with memo)\n"
    "  -g    after START END, print each match group as START-END, or - when\n"
    "        it took no part\n"
    "  --    end of options (for a pattern that begins with '-')\n"
    "\n"
    "Without -i the pattern is matched exactly as a rule is: case-sensitively,\n"
    "against the subject as given. Note that the filter lower-cases a server\n"
    "variable's value before matching it, so a rule pattern that contains\n"
    "capital letters never matches there; give lower-case subjects to see what\n"
    "the filter sees. When the backtracker runs out of its work budget before\n"
    "it finds the positions, the line gives the rule test's answer alone\n"
    "(\"yes\" or \"no\") and a note goes to standard error; only patterns with\n"
    "back-references can run out in the rule test itself, which then counts\n"
    "as \"no\", as it does in the filter.\n"
    "\n"
    "Exit status: 0 when the pattern compiled; 2 with \"error CODE: MEANING\"\n"
    "on standard error when it did not, and on usage errors.\n";

int UsageError(const char* message) {
  std::fprintf(stderr, "sentrel match: %s\n\n%s", message, kHelp);
  return 2;
}

void Report(const pattern::RulePattern& compiled, std::string_view subject, std::size_t number,
            pattern::PatternMatch& context, bool groups) {
  if (compiled.Match(subject, context)) {
    std::printf("yes %zu %zu", context.start(), context.end());
    for (std::uint32_t g = 0; groups && g < context.groupCount(); ++g) {
      if (context.groupTookPart(g)) {
        std::printf(" %zu-%zu", context.groupStart(g), context.groupEnd(g));
      } else {
        std::printf(" -");
      }
    }
    std::printf("\n");
    return;
  }
  if (!context.budgetExhausted()) {
    std::printf("no\n");
    return;
  }
  // The positions are out of reach; the rule test still answers.
  pattern::PatternMatch ruleContext;
  const bool found = compiled.Found(subject, ruleContext);
  std::printf(found ? "yes\n" : "no\n");
  if (ruleContext.budgetExhausted()) {
    std::fprintf(stderr, "sentrel match: subject %zu: work budget exhausted, counted as no\n", number);
  } else {
    std::fprintf(stderr, "sentrel match: subject %zu: work budget exhausted before the positions were found; "
                 "the rule test (%s) answers %s\n", number, pattern::EngineName(compiled.engine()), found ? "yes" : "no");
  }
}

}  // namespace

int RunMatch(int argc, char** argv) {
  bool caseSensitive = true;
  bool showEngine = false;
  bool groups = false;
  int i = 0;
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "-i") {
      caseSensitive = false;
      continue;
    }
    if (arg == "-e") {
      showEngine = true;
      continue;
    }
    if (arg == "-g") {
      groups = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option (use -- before a pattern that begins with '-')");
    break;
  }
  if (i >= argc) return UsageError("missing PATTERN");

  pattern::RulePattern compiled;
  const pattern::CompileCode code = compiled.Compile(argv[i], caseSensitive);
  if (code != pattern::CompileCode::Success) {
    std::fprintf(stderr, "error %d: %s\n", static_cast<int>(code), pattern::CompileCodeMeaning(code));
    return 2;
  }
  ++i;
  if (showEngine) std::printf("engine %s\n", pattern::EngineName(compiled.engine()));

  // The memo changes neither the match nor the groups, only the time.
  pattern::PatternMatch context;
  context.SetMemo(true);
  if (i < argc) {
    for (std::size_t number = 1; i < argc; ++i, ++number) Report(compiled, argv[i], number, context, groups);
    return 0;
  }
  char* line = nullptr;
  std::size_t capacity = 0;
  std::size_t number = 0;
  for (ssize_t length; (length = getline(&line, &capacity, stdin)) >= 0;) {
    std::string_view subject(line, static_cast<std::size_t>(length));
    if (!subject.empty() && subject.back() == '\n') {
      subject.remove_suffix(1);
      if (!subject.empty() && subject.back() == '\r') subject.remove_suffix(1);
    }
    Report(compiled, subject, ++number, context, groups);
  }
  std::free(line);
  return 0;
}

}  // namespace sentrel::tools
