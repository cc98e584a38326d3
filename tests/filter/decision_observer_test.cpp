// The decision observer: told of every module that fires, with the client's
// state and hold afterwards, and of clients allowed after all modules finished.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

using test::FilterUnderTest;
using test::ModuleText;
using test::SettingsFolder;

struct Seen {
  std::string address;
  std::int32_t moduleNumber;
  std::string moduleName;
  ClientState state;
  std::uint32_t holdUntil;
};

// A module that fires at a client's `times`-th request whose agent holds "bot".
ModuleText AgentModule(const std::string& name, const std::string& execute, const std::string& times,
                       const std::string& dateline = "600") {
  return ModuleText::OneRule(name, execute, times, dateline, {"http_user_agent", "1", "bot"});
}

class DecisionObserverTest : public ::testing::Test {
 protected:
  SettingsFolder folder;
  std::unique_ptr<FilterUnderTest> f;
  std::vector<Seen> seen;

  void SetUp() override {
    folder.Write("Config.ini", "[Config]\r\nDateline=3600\r\n");
    folder.Write("Code.html", "<form>code</form>\r\n");
  }
  void Start(bool observe = true) {
    f = std::make_unique<FilterUnderTest>(folder);
    if (observe) {
      f->filter.SetDecisionObserver([this](const DecisionEvent& e) {
        seen.push_back(Seen{e.address, e.moduleNumber, e.module != nullptr ? e.module->name : "",
                            e.state, e.holdUntil});
      });
    }
    ASSERT_EQ(f->host.Load(), TRUE);
    f->CompleteStartup();
    ASSERT_FALSE(f->filter.StartupPending());
  }
  DWORD Ua(const std::string& agent, const std::string& address = "10.0.0.7") {
    return f->Request(address, {{"HTTP_USER_AGENT", agent}});
  }
  std::uint32_t In(std::uint32_t seconds) { return static_cast<std::uint32_t>(f->clock.Now()) + seconds; }
};

TEST_F(DecisionObserverTest, EachActionReportsTheStateAndHoldItLeaves) {
  struct Case {
    const char* execute;
    const char* address;
    ClientState state;
    bool held;
  };
  // One fresh filter per case, on the same folder; each case has its own
  // client so that nothing a previous instance journaled can interfere.
  for (const Case& c : {Case{"0", "10.0.0.1", ClientState::Blocked, true}, Case{"1", "10.0.0.2", ClientState::Normal, false},
                        Case{"2", "10.0.0.3", ClientState::Allowed, true}, Case{"3", "10.0.0.4", ClientState::PictureCode, true}}) {
    SCOPED_TRACE(c.execute);
    seen.clear();
    folder.Folder().Remove("site/Action");
    folder.AddModule("m.ini", AgentModule("Agents", c.execute, "2"));
    Start();
    Ua("somebot", c.address);
    EXPECT_TRUE(seen.empty());
    Ua("somebot", c.address);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].address, c.address);
    EXPECT_EQ(seen[0].moduleNumber, 1);
    EXPECT_EQ(seen[0].moduleName, "Agents");
    EXPECT_EQ(seen[0].state, c.state);
    // A log-only firing leaves the hold where the previous evaluation put
    // it: at that request's time, which is now on the unmoved clock.
    EXPECT_EQ(seen[0].holdUntil, c.held ? In(600) : In(0));
  }
}

TEST_F(DecisionObserverTest, LogOnlyFiringIsReportedBeforeTheDecidingOne) {
  ModuleText logOnly = AgentModule("Watch", "1", "1");
  logOnly.priority = "2";  // loaded first
  folder.AddModule("watch.ini", logOnly);
  folder.AddModule("block.ini", AgentModule("Block", "0", "1", "900"));
  Start();
  Ua("crawlbot", "10.0.0.9");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].moduleName, "Watch");
  EXPECT_EQ(seen[0].state, ClientState::Normal);
  EXPECT_EQ(seen[1].moduleName, "Block");
  EXPECT_EQ(seen[1].moduleNumber, 2);
  EXPECT_EQ(seen[1].state, ClientState::Blocked);
  EXPECT_EQ(seen[1].holdUntil, In(900));
  EXPECT_EQ(seen[1].address, "10.0.0.9");
}

TEST_F(DecisionObserverTest, ClientAllowedAfterEveryModuleFinishedIsModuleZero) {
  ModuleText windowed = AgentModule("Early", "0", "5");
  windowed.setp = "1-2";
  folder.AddModule("early.ini", windowed);
  Start();
  Ua("Mozilla/5.0");
  EXPECT_TRUE(seen.empty());
  Ua("Mozilla/5.0");  // request 2 leaves the window 1-2: every module is finished
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].moduleNumber, 0);
  EXPECT_EQ(seen[0].moduleName, "");
  EXPECT_EQ(seen[0].state, ClientState::Allowed);
  EXPECT_EQ(seen[0].holdUntil, In(3600));
}

TEST_F(DecisionObserverTest, ClientsOnHoldAreNotReportedAgain) {
  folder.AddModule("m.ini", AgentModule("Agents", "0", "1"));
  Start();
  Ua("somebot");
  Ua("somebot");
  f->clock.Advance(599);
  Ua("somebot");
  EXPECT_EQ(seen.size(), 1u);
  f->clock.Advance(2);
  Ua("somebot");  // the hold has passed: evaluated and blocked again
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].holdUntil, In(600));
}

TEST_F(DecisionObserverTest, AnswersAreTheSameWithAndWithoutAnObserver) {
  folder.AddModule("m.ini", AgentModule("Agents", "0", "2"));
  std::vector<DWORD> answers[2];
  for (bool observe : {false, true}) {
    Start(observe);
    for (const char* agent : {"somebot", "Mozilla", "somebot", "somebot", "Mozilla"}) {
      answers[observe].push_back(Ua(agent));
    }
  }
  EXPECT_EQ(answers[0], answers[1]);
  EXPECT_EQ(answers[1].back(), SF_STATUS_REQ_FINISHED);
}

}  // namespace
}  // namespace sentrel
