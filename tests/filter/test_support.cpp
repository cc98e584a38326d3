#include "tests/filter/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/temp_folder.h"

namespace sentrel::test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  path_ = testsupport::MakeTempFolder("sentrel-test-");
  if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void TempFolder::Write(const std::string& relative, const std::string& bytes) const {
  fs::path p = fs::path(path_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string TempFolder::Read(const std::string& relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool TempFolder::Exists(const std::string& relative) const {
  return fs::exists(fs::path(path_) / relative);
}

void TempFolder::MakeFolder(const std::string& relative) const {
  fs::create_directories(fs::path(path_) / relative);
}

void TempFolder::Remove(const std::string& relative) const {
  fs::remove_all(fs::path(path_) / relative);
}

std::vector<std::string> TempFolder::List(const std::string& relative) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(path_) / relative, ec)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ModuleText::Text() const {
  std::ostringstream t;
  t << "[About]\r\nVersion=4.3.0\r\nName=" << name << "\r\n";
  if (!priority.empty()) t << "[Config]\r\nPriority=" << priority << "\r\n";
  t << "[Cofing]\r\nExecute=" << execute << "\r\nSetp=" << setp << "\r\nLogName=" << logName
    << "\r\nLogFileName=" << logFileName << "\r\nLogContent=" << logContent << "\r\nTimes=" << times
    << "\r\nDateline=" << dateline << "\r\n";
  t << "[Step]\r\nCount=" << steps.size() << "\r\n";
  for (std::size_t i = 0; i < steps.size(); ++i) t << (i + 1) << "=S" << (i + 1) << "\r\n";
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const StepText& s = steps[i];
    t << "[S" << (i + 1) << "]\r\nTimes=" << s.times << "\r\nLogName=" << s.logName
      << "\r\nLogFileName=" << s.logFileName << "\r\nLogContent=" << s.logContent
      << "\r\nCount=" << s.rules.size() << "\r\n";
    for (std::size_t j = 0; j < s.rules.size(); ++j) {
      t << (j + 1) << "_Parameter=" << s.rules[j].parameter << "\r\n"
        << (j + 1) << "_Compare=" << s.rules[j].compare << "\r\n"
        << (j + 1) << "_Rule=" << s.rules[j].pattern << "\r\n";
    }
  }
  return t.str();
}

SettingsFolder::SettingsFolder() {
  folder_.Write("sh_Sentrel.ini", "[Config]\r\nFolderPath=" + Root() + "\r\n");
  folder_.MakeFolder("site/Action");
  folder_.MakeFolder("site/Log");
  folder_.MakeFolder("site/Cache");
}

FilterUnderTest::FilterUnderTest(const SettingsFolder& settings, std::int64_t start)
    : clock(start),
      filter(clock, settings.Bootstrap()),
      host(testhost::EntryPoints{
          [this](HTTP_FILTER_VERSION* v) { return filter.GetFilterVersion(v); },
          [this](HTTP_FILTER_CONTEXT* c, DWORD t, void* d) { return filter.HttpFilterProc(c, t, d); },
          [this](DWORD f) { return filter.TerminateExtension(f); }}) {}

void FilterUnderTest::CompleteStartup(int maxNotifications) {
  for (int i = 0; i < maxNotifications && filter.StartupPending(); ++i) {
    clock.Advance(4);
    host.EndOfSession();
  }
}

DWORD FilterUnderTest::Request(const std::string& address, std::map<std::string, std::string> variables,
                               testhost::TestRequest** recorded) {
  variables["REMOTE_ADDR"] = address;
  last = std::make_unique<testhost::TestRequest>(std::move(variables));
  DWORD status = host.Request(*last);
  if (recorded != nullptr) *recorded = last.get();
  return status;
}

std::string ProgramLog(const SettingsFolder& settings, platform::FakeClock& clock) {
  return settings.Read("Log/Log_" + clock.FormatNow("%Y-%m-%d") + ".log");
}

}  // namespace sentrel::test
