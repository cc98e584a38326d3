// `sentrel match`, run as the built program.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace {

using Result = sentrel::test::ProgramResult;

// Runs `sentrel match ARGS...` with `input` on standard input.
Result RunMatch(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), "match");
  return sentrel::test::RunProgram(SENTREL_TOOL_PATH, args, input);
}

TEST(MatchTool, SubjectsFromArguments) {
  const Result r = RunMatch({"ab|cd", "xabd", "ab", "acd", ""});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "yes 1 4\nno\nyes 0 3\nno\n");
  EXPECT_EQ(r.err, "");
}

TEST(MatchTool, SubjectsFromStandardInput) {
  const Result r = RunMatch({"bot$"}, "googlebot\r\nrobot\nbots\n\nlast-bot");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "yes 6 9\nyes 2 5\nno\nno\nyes 5 8\n");
}

TEST(MatchTool, KeepsALoneCarriageReturn) {
  // Only CR LF and LF end a line; a CR elsewhere belongs to the subject.
  const Result r = RunMatch({"\\n"}, "a\rb\nab\r\n");
  EXPECT_EQ(r.out, "yes 1 2\nno\n");
}

TEST(MatchTool, CaseSensitiveByDefault) {
  EXPECT_EQ(RunMatch({"bot", "GoogleBot"}).out, "no\n");
  const Result r = RunMatch({"-i", "BOT", "GoogleBot"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "yes 6 9\n");
}

TEST(MatchTool, CompileErrors) {
  Result r = RunMatch({"(ab]", "x"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "error 3: ) expected\n");
  r = RunMatch({"a\\"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "error 5: unexpected\n");
  r = RunMatch({"-i", "[Z-a]", "x"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "error 8: invalid range\n");
}

TEST(MatchTool, UsageErrorsAndHelp) {
  Result r = RunMatch({});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("usage: sentrel match"), std::string::npos);
  r = RunMatch({"-x", "a"});
  EXPECT_EQ(r.status, 2);
  r = RunMatch({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("lower-cases"), std::string::npos);
  // A pattern that begins with '-' after `--`.
  r = RunMatch({"--", "-a", "x-a"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "yes 1 3\n");
}

TEST(MatchTool, EngineAndGroups) {
  Result r = RunMatch({"-e", "-g", "{a}(x)|{b}\\0", "zaxa", "bb"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "engine backtracker with memo\nyes 1 4 1-2 -\nno\n");
  r = RunMatch({"-e", "(spider)|(crawl)", "a crawler"});
  EXPECT_EQ(r.out, "engine literal set search\nyes 2 7\n");
  r = RunMatch({"-g", "-e", "^{\\w}!\\d", "a1", "ab"});
  EXPECT_EQ(r.out, "engine automaton\nno\nyes 0 2 0-2\n");
}

// The backtracker (even with its memo) may run out of its budget before it
// finds the positions: the rule test's answer is given alone. Only a pattern
// with back-references can run out in the rule test too, which counts as no.
TEST(MatchTool, ExhaustedBudget) {
  const std::string as(3000, 'a');
  Result r = RunMatch({"((a+)+)+b", as + "cab", "xab"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "yes\nyes 1 3\n");
  EXPECT_NE(r.err.find("subject 1: work budget exhausted before the positions were found; the rule test "
                       "(automaton) answers yes"),
            std::string::npos)
      << r.err;
  r = RunMatch({"((a+)+)+{b}\\0", as + "bc", "abb"});
  EXPECT_EQ(r.out, "no\nyes 0 3\n");
  EXPECT_NE(r.err.find("subject 1: work budget exhausted, counted as no"), std::string::npos) << r.err;
}

}  // namespace
