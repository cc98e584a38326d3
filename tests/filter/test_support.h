// Shared helpers of the filter tests: a temporary settings folder, module file
// texts, and a filter instance on a fake clock driven through the test host.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "filter/core/filter.h"
#include "hosts/testhost/test_host.h"
#include "platform/clock.h"

namespace sentrel::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Writes bytes to a file below the folder, creating folders on the way.
  void Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  void MakeFolder(const std::string& relative) const;
  void Remove(const std::string& relative) const;
  std::vector<std::string> List(const std::string& relative) const;

 private:
  std::string path_;
};

// A module file's text with one step of one rule; fields can be changed
// before Text() is called.
struct ModuleText {
  std::string name = "Test module";
  std::string priority = "";  // empty: no Config section
  std::string execute = "0";
  std::string setp = "0";
  std::string times = "1";
  std::string dateline = "600";
  std::string logName = "";
  std::string logFileName = "";
  std::string logContent = "";
  struct RuleText {
    std::string parameter;
    std::string compare;
    std::string pattern;
  };
  struct StepText {
    std::string times = "1";
    std::string logName;
    std::string logFileName;
    std::string logContent;
    std::vector<RuleText> rules;
  };
  std::vector<StepText> steps;

  std::string Text() const;
};

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

// A filter instance on a fake clock, with a test host on its entry points.
class FilterUnderTest {
 public:
  explicit FilterUnderTest(const SettingsFolder& settings, std::int64_t start = 1700000000);

  platform::FakeClock clock;
  Filter filter;
  testhost::TestHost host;

  // Sends end-of-session notifications 4 seconds apart until the start-up
  // has completed (or `maxNotifications` were sent).
  void CompleteStartup(int maxNotifications = 8);
  // One request from an address with extra server variables.
  DWORD Request(const std::string& address,
                std::map<std::string, std::string> variables = {},
                testhost::TestRequest** recorded = nullptr);
  std::unique_ptr<testhost::TestRequest> last;
};

// The activity log file "Log_<date>.log" text for the fake clock's date.
std::string ProgramLog(const SettingsFolder& settings, platform::FakeClock& clock);

}  // namespace sentrel::test
