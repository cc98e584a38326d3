#include "tests/support/filter_under_test.h"

namespace sentrel::test {

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

::testing::AssertionResult StartFilterLibrary(hosts::FilterLibrary& library, const std::string& path,
                                              const SettingsFolder& settings) {
  settings.Write("Action/a.ini", "[Config]\r\nPriority=1\r\n");
  std::string error;
  // The bootstrap file is ".\sh_Sentrel.ini" in the folder made current.
  if (!library.Open(path, error) || !library.Start(settings.Folder().Path(), error)) {
    return ::testing::AssertionFailure() << error;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace sentrel::test
