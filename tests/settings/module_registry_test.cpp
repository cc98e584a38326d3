// The module stage: numbering in loading order, progress items, the program
// message per module, and the request cap.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "filter/logging/activity_log.h"
#include "filter/settings/module_reader.h"
#include "filter/settings/module_registry.h"
#include "platform/clock.h"
#include "tests/settings/module_fixtures.h"

namespace sentrel {
namespace {

using test::IniText;
using test::RecordingSink;
using test::SimpleModule;
using test::TempFolder;

// GBK bytes of 模块读取成功 (module read).
constexpr char kModuleRead[] = "\xc4\xa3\xbf\xe9\xb6\xc1\xc8\xa1\xb3\xc9\xb9\xa6";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class ModuleStageTest : public ::testing::Test {
 protected:
  ModuleStageTest() : log_(clock_) {
    std::filesystem::create_directories(folder_.Path() + "/Log");
    settings_.FolderPath = NormalizeFolderPath(folder_.Path());
    log_.Configure(settings_.FolderPath, 30);
  }

  std::string Add(const std::string& name, const IniText& ini) {
    folder_.Write("Action/" + name, ini.Text());
    std::string path = folder_.File("Action/" + name);
    registry_.modulePaths.push_back(path);
    return path;
  }

  std::string LogText() {
    return ReadAll(folder_.Path() + "/Log/Log_" + clock_.FormatNow("%Y-%m-%d") + ".log");
  }

  platform::FakeClock clock_;
  TempFolder folder_;
  FilterSettings settings_;
  ActivityLog log_;
  ModuleRegistry registry_;
};

TEST_F(ModuleStageTest, NumbersStayGapFreeAroundAnUnusableFile) {
  Add("a.ini", SimpleModule("Alpha", "1-5", {"2"}));
  Add("b.ini", SimpleModule("Beta", "0", {"1"}));
  const std::string bad = Add("c.ini", SimpleModule("Gamma", "1", {"1"}).Set("About", "Version", "4.2"));
  Add("d.ini", SimpleModule("Delta", "2", {"3"}));

  RecordingSink sink;
  ASSERT_TRUE(LoadModules(registry_, settings_, &log_, &sink));

  ASSERT_EQ(registry_.modules.size(), 3u);
  EXPECT_EQ(registry_.ModuleAt(1)->name, "Alpha");
  EXPECT_EQ(registry_.ModuleAt(2)->name, "Beta");
  EXPECT_EQ(registry_.ModuleAt(3)->name, "Delta");
  EXPECT_EQ(registry_.ModuleAt(4), nullptr);

  ASSERT_EQ(registry_.progressTemplate.size(), 3u);
  for (std::int32_t n = 1; n <= 3; ++n) {
    const ModuleProgress& p = registry_.progressTemplate[static_cast<std::size_t>(n) - 1];
    EXPECT_EQ(p.active, 1);
    EXPECT_EQ(p.moduleNumber, n);
    EXPECT_EQ(p.currentStep, 0u);
    EXPECT_EQ(p.stepHits, 0u);
    EXPECT_EQ(p.passes, 0u);
  }

  ASSERT_EQ(sink.loaded.size(), 3u);
  EXPECT_EQ(sink.loaded[2].number, 3);
  EXPECT_EQ(sink.loaded[2].name, "Delta");
  ASSERT_EQ(sink.refusals.size(), 1u);
  EXPECT_EQ(sink.refusals[0].path, bad);

  // One program message per loaded module, in order, none for the bad file.
  const std::string stamp = clock_.FormatNow("%H:%M:%S") + "\t";
  EXPECT_EQ(LogText(), stamp + "Alpha\t" + kModuleRead + "\r\n" +
                           stamp + "Beta\t" + kModuleRead + "\r\n" +
                           stamp + "Delta\t" + kModuleRead + "\r\n");
}

TEST_F(ModuleStageTest, EveryFileUnusableFailsTheStage) {
  Add("a.ini", SimpleModule("A", "0-1", {"1"}));
  Add("b.ini", IniText{});
  registry_.modulePaths.push_back("");  // an empty path is refused
  registry_.requestCap = 99;
  EXPECT_FALSE(LoadModules(registry_, settings_, &log_));
  EXPECT_TRUE(registry_.modules.empty());
  EXPECT_TRUE(registry_.progressTemplate.empty());
  // The cap is not computed when nothing loaded.
  EXPECT_EQ(registry_.requestCap, 99u);
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "/Log/Log_" +
                                       clock_.FormatNow("%Y-%m-%d") + ".log"));
}

TEST_F(ModuleStageTest, FileDeletedBetweenScanAndReadIsSkipped) {
  folder_.Write("Action/one.ini", SimpleModule("One", "1", {"1"}).Text());
  folder_.Write("Action/sub/two.ini", SimpleModule("Two", "1", {"1"}).Text());
  folder_.Write("Action/three.ini", SimpleModule("Three", "1", {"1"}).Text());
  ASSERT_TRUE(ScanModuleFolder(settings_.FolderPath + "Action", registry_));
  registry_.OrderScannedPaths();
  ASSERT_EQ(registry_.modulePaths.size(), 3u);

  std::filesystem::remove(folder_.Path() + "/Action/sub/two.ini");
  RecordingSink sink;
  ASSERT_TRUE(LoadModules(registry_, settings_, &log_, &sink));
  ASSERT_EQ(registry_.modules.size(), 2u);
  EXPECT_EQ(registry_.progressTemplate.back().moduleNumber, 2);
  ASSERT_EQ(sink.refusals.size(), 1u);
  EXPECT_EQ(sink.refusals[0].issue, ModuleIssue::VersionMismatch);
  EXPECT_TRUE(sink.refusals[0].missing);
}

TEST_F(ModuleStageTest, RequestCapIsComputedFromTheLoadedModules) {
  Add("a.ini", SimpleModule("Nine", "3", {"1-2", "4"}));
  Add("b.ini", SimpleModule("Twelve", "5-6", {"7"}));
  Add("c.ini", SimpleModule("Broken", "0", {"0"}));  // refused: takes no part
  ASSERT_TRUE(LoadModules(registry_, settings_, nullptr));
  EXPECT_EQ(registry_.modules.size(), 2u);
  EXPECT_EQ(registry_.requestCap, 12u);
}

// Modules for the cap walk, built in memory.
Module Windowed(std::uint32_t low, std::uint32_t high,
                std::vector<std::pair<std::uint32_t, std::uint32_t>> steps) {
  Module m;
  m.setpLow = low;
  m.setpHigh = high;
  for (auto [timesLow, timesHigh] : steps) {
    Step s;
    s.timesLow = timesLow;
    s.timesHigh = timesHigh;
    m.steps.push_back(s);
  }
  m.stepCount = static_cast<std::int32_t>(m.steps.size());
  return m;
}

TEST(ComputeRequestCap, Examples) {
  struct Case {
    const char* what;
    std::vector<Module> modules;
    std::uint32_t cap;
  };
  const Module nine = Windowed(3, 3, {{1, 2}, {4, 4}});  // 3 + 2 + 4
  const Module twelve = Windowed(5, 6, {{7, 7}});        // 5 + 7
  const Module noWindow = Windowed(0, 0, {{1, 1}});
  const Module openStep = Windowed(1, 1, {{0, 3}});
  const Case cases[] = {
      {"one module of reach 9", {nine}, 9},
      {"the larger reach wins", {nine, twelve}, 12},
      {"order does not matter", {twelve, nine}, 12},
      {"a window of 0 last", {nine, twelve, noWindow}, 0},
      {"a window of 0 first", {noWindow, nine}, 0},
      {"a step counted from 0", {twelve, openStep}, 0},
      {"the window's upper bound is not counted", {Windowed(2, 1000, {{1, 1}})}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ModuleRegistry registry;
    registry.requestCap = 77;  // the walk starts from 0
    for (const auto& m : c.modules) registry.AddModule(m);
    ComputeRequestCap(registry);
    EXPECT_EQ(registry.requestCap, c.cap);
  }
}

TEST(ComputeRequestCap, AReachBeyond32BitsDoesNotWrapToASmallCap) {
  ModuleRegistry registry;
  registry.AddModule(Windowed(2147483647, 2147483647, {{1, 2147483647}, {1, 5}}));
  ComputeRequestCap(registry);
  EXPECT_EQ(registry.requestCap, 4294967295u);
}

TEST(ModuleRegistry, AddModuleNumbersFromOne) {
  ModuleRegistry registry;
  Module m;
  m.name = "first";
  EXPECT_EQ(registry.AddModule(m), 1);
  m.name = "second";
  EXPECT_EQ(registry.AddModule(m), 2);
  EXPECT_EQ(registry.ModuleAt(2)->name, "second");
  EXPECT_EQ(registry.ModuleAt(0), nullptr);
  EXPECT_EQ(registry.progressTemplate[1].moduleNumber, 2);
}

}  // namespace
}  // namespace sentrel
