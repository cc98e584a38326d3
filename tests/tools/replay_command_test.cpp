// `sentrel replay` as administrators run it: the built tool, its output and
// its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/filter/test_support.h"
#include "tests/tools/json_reader.h"

namespace sentrel {
namespace {

using test::ModuleText;
using test::SettingsFolder;
using test::TempFolder;

struct ToolResult {
  std::string output;
  int status = -1;
};

// Runs the tool with the arguments (and a shell redirection, if any), stderr
// going into the output unless it is redirected.
ToolResult RunTool(const std::string& arguments, bool withStderr = true) {
  ToolResult result;
  const std::string command =
      std::string("'") + SENTREL_TOOL + "' replay " + arguments + (withStderr ? " 2>&1" : " 2>/dev/null");
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.output.append(buffer, n);
  const int wait = ::pclose(pipe);
  if (WIFEXITED(wait)) result.status = WEXITSTATUS(wait);
  return result;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

class ReplayCommand : public ::testing::Test {
 protected:
  SettingsFolder folder;
  TempFolder logs;

  void SetUp() override {
    ModuleText bot;
    bot.name = "Bot";
    ModuleText::StepText s;
    s.times = "2";
    s.rules.push_back({"http_user_agent", "1", "bot"});
    bot.steps.push_back(s);
    folder.AddModule("bot.ini", bot);
    logs.Write("access.log",
               "10.0.0.7 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.1\" 200 5 \"-\" \"SomeBot\"\n"
               "10.0.0.7 - - [10/Oct/2000:13:55:37 -0700] \"GET /a HTTP/1.1\" 200 5 \"-\" \"SomeBot\"\n"
               "not a log line\n"
               "10.0.0.8 - - [10/Oct/2000:13:55:38 -0700] \"GET / HTTP/1.1\" 200 5 \"-\" \"Mozilla/5.0\"\n");
  }
  std::string Log() const { return Quoted(logs.Path() + "/access.log"); }
};

TEST_F(ReplayCommand, PrintsTheReportAndSucceeds) {
  ToolResult r = RunTool(Quoted(folder.Root()) + " " + Log());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Replay of "), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  blocked     1"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  10.0.0.7  10/Oct/2000:13:55:37 -0700  Bot"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  line 3: no [time] field"), std::string::npos) << r.output;
}

TEST_F(ReplayCommand, JsonFromStandardInput) {
  ToolResult r = RunTool("--json " + Quoted(folder.Root()) + " - < " + Log(), false);
  EXPECT_EQ(r.status, 0) << r.output;
  std::string error;
  const auto j = test::ReadJson(r.output, &error);
  ASSERT_TRUE(j.has_value()) << error << "\n" << r.output;
  EXPECT_EQ((*j)["status"].string, "completed");
  EXPECT_EQ((*j)["log"]["name"].string, "standard input");
  EXPECT_EQ((*j)["log"]["requests"].number, 3);
  EXPECT_EQ((*j)["log"]["unparsable"]["count"].number, 1);
  EXPECT_EQ((*j)["answers"]["blocked"].number, 1);
  EXPECT_EQ((*j)["decisions"][0]["module"]["name"].string, "Bot");
}

TEST_F(ReplayCommand, KeepLeavesTheScratchCopy) {
  ToolResult r = RunTool("--json --keep " + Quoted(folder.Root()) + " " + Log(), false);
  ASSERT_EQ(r.status, 0) << r.output;
  const auto j = test::ReadJson(r.output);
  ASSERT_TRUE(j.has_value());
  const std::string copy = (*j)["scratch"]["folder"].string;
  EXPECT_TRUE((*j)["scratch"]["kept"].boolean);
  ASSERT_FALSE(copy.empty());
  EXPECT_TRUE(std::filesystem::exists(copy + "/Action/bot.ini"));
  EXPECT_TRUE(std::filesystem::is_directory(copy + "/Log"));
  std::filesystem::remove_all(std::filesystem::path(copy).parent_path());
}

TEST_F(ReplayCommand, ExitStatusTellsUsageLoadAndFileProblemsApart) {
  SettingsFolder empty;  // no module file: the filter would not load
  struct Case {
    std::string arguments;
    int status;
    const char* says;
  };
  for (const Case& c : {Case{"", 2, "usage: sentrel replay"},
                        Case{"--fast " + Quoted(folder.Root()) + " " + Log(), 2, "unknown option '--fast'"},
                        Case{Quoted(folder.Root()), 2, "usage: sentrel replay"},
                        Case{Quoted(folder.Root()) + " " + Quoted(logs.Path() + "/none.log"), 2, "cannot read"},
                        Case{Quoted(folder.Root()) + " " + Quoted(logs.Path()), 2, "is a folder"},
                        Case{Quoted(folder.Root() + "/none") + " " + Log(), 2, "not an existing folder"},
                        Case{Quoted(empty.Root()) + " " + Log(), 1, "would not load"},
                        Case{"--help", 0, "--journal"}}) {
    SCOPED_TRACE(c.arguments);
    ToolResult r = RunTool(c.arguments);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
}

}  // namespace
}  // namespace sentrel
