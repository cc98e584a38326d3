// `sentrel match`, run as the built program.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

// Runs `sentrel match ARGS...` with `input` on standard input.
Result RunMatch(const std::vector<std::string>& args, const std::string& input = "") {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    std::vector<char*> argv{const_cast<char*>(SENTREL_TOOL_PATH), const_cast<char*>("match")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(SENTREL_TOOL_PATH, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < input.size()) {
      const ssize_t n = write(in[1], input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(in[1]);
  });
  Result r;
  std::thread errReader([&] { r.err = ReadAll(err[0]); });
  r.out = ReadAll(out[0]);
  errReader.join();
  writer.join();
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
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
