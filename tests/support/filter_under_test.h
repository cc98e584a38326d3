// A filter under test: a temporary settings folder with its bootstrap file,
// and a filter instance on a fake clock driven through the test host.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filter/core/filter.h"
#include "hosts/common/filter_library.h"
#include "hosts/testhost/test_host.h"
#include "platform/clock.h"
#include "tests/support/module_text.h"
#include "tests/support/temp_folder.h"

namespace sentrel::test {

// A settings folder with a bootstrap file, ready for a filter to load.
class SettingsFolder {
 public:
  SettingsFolder();
  const TempFolder& Folder() const { return folder_; }
  std::string Bootstrap() const { return folder_.Path() + "/sh_Sentrel.ini"; }
  std::string Root() const { return folder_.Path() + "/site"; }
  // Writes a file below the settings folder.
  void Write(const std::string& relative, const std::string& bytes) const {
    folder_.Write("site/" + relative, bytes);
  }
  std::string Read(const std::string& relative) const { return folder_.Read("site/" + relative); }
  bool Exists(const std::string& relative) const { return folder_.Exists("site/" + relative); }
  std::vector<std::string> List(const std::string& relative) const { return folder_.List("site/" + relative); }
  void AddModule(const std::string& fileName, const ModuleText& module) const {
    Write("Action/" + fileName, module.Text());
  }

 private:
  TempFolder folder_;
};

// Sends end-of-session notifications to `filter` through `host`, moving
// `clock` on 4 seconds before each (one stage falls due each time), until the
// start-up stage `stage` is the next one due or `maxNotifications` were sent.
// Returns whether it got there.
template <typename AdvancingClock>
bool RunStartupUntil(Filter& filter, testhost::TestHost& host, AdvancingClock& clock,
                     StartupStage stage, int maxNotifications = 8) {
  for (int i = 0; i < maxNotifications && filter.DueStartupStage() != stage; ++i) {
    clock.Advance(4);
    host.EndOfSession();
  }
  return filter.DueStartupStage() == stage;
}

// A filter instance on a fake clock, with a test host on its entry points.
class FilterUnderTest {
 public:
  explicit FilterUnderTest(const SettingsFolder& settings, std::int64_t start = 1700000000);

  platform::FakeClock clock;
  Filter filter;
  testhost::TestHost host;

  // Runs the start-up stages until the start-up has completed (or
  // `maxNotifications` were sent).
  void CompleteStartup(int maxNotifications = 8) { RunStartupUntil(filter, host, clock, StartupStage::Started, maxNotifications); }
  // One request from an address with extra server variables.
  DWORD Request(const std::string& address,
                std::map<std::string, std::string> variables = {},
                testhost::TestRequest** recorded = nullptr);
  std::unique_ptr<testhost::TestRequest> last;
};

// The activity log file "Log_<date>.log" text for the fake clock's date.
std::string ProgramLog(const SettingsFolder& settings, platform::FakeClock& clock);

// Loads the built filter library at `path` as a server does, with a module
// file in `settings` and the settings folder as the bootstrap file's folder.
::testing::AssertionResult StartFilterLibrary(hosts::FilterLibrary& library, const std::string& path,
                                              const SettingsFolder& settings);

}  // namespace sentrel::test
