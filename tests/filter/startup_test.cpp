// The staged start-up gate: stages run one at a time, each at most once and
// only when more than three seconds have passed since the previous one.
#include <gtest/gtest.h>

#include "filter/logging/program_messages.h"
#include "filter/settings/filter_settings.h"
#include "filter/core/startup.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

class StartupTest : public ::testing::Test {
 protected:
  test::SettingsFolder folder;
  platform::FakeClock clock{1700000000};
  ActivityLog log{clock};
  std::atomic<std::uint8_t> pending{1};
  Startup startup{clock, log, pending};
  std::vector<std::string> ran;
  bool modulesLoad = true;
  Startup::Stages stages{[this] { ran.push_back("lists"); }, [this] { ran.push_back("cache"); },
                         [this] {
                           ran.push_back("modules");
                           return modulesLoad;
                         }};

  void SetUp() override {
    log.Configure(NormalizeFolderPath(folder.Root()), 30);
    startup.Arm();
  }
  void At(std::int64_t offset) {
    clock.Set(1700000000 + offset);
    startup.RunStartupStage(stages);
  }
};

TEST_F(StartupTest, StagesRunInOrderMoreThanThreeSecondsApart) {
  At(1);
  At(3);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(startup.Stage(), StartupStage::ListsDue);
  At(4);
  EXPECT_EQ(ran, std::vector<std::string>{"lists"});
  At(7);
  EXPECT_EQ(ran.size(), 1u);
  At(8);
  At(8);
  EXPECT_EQ(ran, (std::vector<std::string>{"lists", "cache"}));
  At(12);
  EXPECT_EQ(startup.Stage(), StartupStage::StartDue);
  EXPECT_EQ(pending.load(), 1);
  At(16);
  EXPECT_EQ(startup.Stage(), StartupStage::Started);
  EXPECT_EQ(pending.load(), 0);
  At(100);
  At(200);
  EXPECT_EQ(ran, (std::vector<std::string>{"lists", "cache", "modules"}));
  EXPECT_EQ(test::ProgramLog(folder, clock), std::string("22:13:36\t") + messages::kStarting +
                                                 "\r\n22:13:36\t" + messages::kStarted + "\r\n");
}

TEST_F(StartupTest, NoUsableModuleHaltsTheStartup) {
  modulesLoad = false;
  for (int t = 4; t <= 40; t += 4) At(t);
  EXPECT_EQ(ran, (std::vector<std::string>{"lists", "cache", "modules"}));
  EXPECT_EQ(startup.Stage(), StartupStage::BusyOrHalted);
  EXPECT_EQ(pending.load(), 1);
  EXPECT_EQ(test::ProgramLog(folder, clock),
            std::string("22:13:32\t") + messages::kNoModule + "\r\n");
}

}  // namespace
}  // namespace sentrel
