// The shared library exports exactly the three entry points, and a host that
// loads it at run time can drive a whole load through them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "filter/logging/program_messages.h"
#include "hosts/testhost/test_host.h"
#include "tests/support/filter_under_test.h"
#include "hosts/common/filter_library.h"

namespace sentrel {
namespace {

TEST(Exports, OnlyTheThreeEntryPoints) {
  std::string command = std::string("nm -D --defined-only ") + SENTREL_LIBRARY_PATH;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> functions;
  std::set<std::string> others;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (name.empty()) continue;
    (type == "T" ? functions : others).insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(functions, (std::set<std::string>{"GetFilterVersion", "HttpFilterProc", "TerminateExtension"}));
  // Nothing else of ours is visible (no data, no weak C++ symbols).
  for (const auto& name : others) ADD_FAILURE() << "unexpected exported symbol " << name;
}

TEST(Exports, LoadThroughTheLibrary) {
  test::SettingsFolder folder;
  hosts::FilterLibrary library;
  ASSERT_TRUE(test::StartFilterLibrary(library, SENTREL_LIBRARY_PATH, folder));
  EXPECT_EQ(library.Description(), "Tarnwick ISAPI filter, Version 4.3");

  testhost::TestHost host(library);
  testhost::TestRequest request(std::map<std::string, std::string>{{"REMOTE_ADDR", "10.0.0.1"}});
  EXPECT_EQ(host.Request(request), SF_STATUS_REQ_NEXT_NOTIFICATION);
  library.Terminate();
  library.Close();

  std::vector<std::string> logs = folder.List("Log");
  ASSERT_EQ(logs.size(), 1u);
  std::string text = folder.Read("Log/" + logs[0]);
  EXPECT_NE(text.find(messages::kLoaded), std::string::npos);
  EXPECT_NE(text.find(messages::kUnloaded), std::string::npos);
}

}  // namespace
}  // namespace sentrel
