// The picture-code challenge through the test host: the Code page, the image,
// right and wrong answers, expiry, and the decisions with their journal lines.
#include <gtest/gtest.h>

#include <cstring>

#include "filter/core/block_response.h"
#include "filter/core/picture_challenge_flow.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

using test::FilterUnderTest;
using test::ModuleText;
using test::SettingsFolder;

class PictureFlow : public ::testing::Test {
 protected:
  SettingsFolder folder;
  std::unique_ptr<FilterUnderTest> f;
  // The client, and how the journal names it.
  std::string address = "10.0.0.7";
  std::string journaled = "10.0.0.7";

  void SetUp() override {
    folder.Write("Config.ini", "[Config]\r\nStatus=403 Forbidden\r\nCacheMin=1\r\nIPv6Prefix=64\r\n[Code]\r\nLength=4\r\n"
                               "Width=120\r\nheight=40\r\n");
    folder.Write("Return.html", "blocked\r\n");
    folder.Write("Code.html", "<img src=/Code.bmp>\r\n");
    ModuleText m = test::AgentModule("Crawlers", "3", "1", "3600", "crawler");
    folder.AddModule("challenge.ini", m);
    f = std::make_unique<FilterUnderTest>(folder);
    ASSERT_EQ(f->host.Load(), TRUE);
    f->CompleteStartup();
    // The first request puts the client to the challenge and gets the page.
    ASSERT_EQ(Get("/", ""), SF_STATUS_REQ_FINISHED);
  }

  DWORD Get(const std::string& url, const std::string& query) {
    return f->Request(address, {{"HTTP_USER_AGENT", "crawler"}, {"URL", url}, {"QUERY_STRING", query}});
  }
  ClientTally& Client() { return *f->filter.Clients().Find(ReadClientAddress(address, 64)); }
  std::string Code() { return Client().challenge->expectedQuery + 5; }
  std::string Wrong() {
    std::string code = Code();
    code[0] = code[0] == '1' ? '2' : '1';
    return "Code=" + code;
  }
  std::string Journal() { return folder.Read("Cache/" + f->clock.FormatNow("%Y-%m-%d") + ".txt"); }
};

// The decisions that journal, for an IPv4 and an IPv6 client.
class PictureFlowOf : public PictureFlow, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      address = "2001:db8:0:7::7";
      journaled = "2001:db8:0:7::/64";
    }
    PictureFlow::SetUp();
  }
};

INSTANTIATE_TEST_SUITE_P(Clients, PictureFlowOf, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "IPv6" : "IPv4"; });

TEST_F(PictureFlow, FirstRequestGetsTheCodePageWithTheStatusLine) {
  EXPECT_EQ(Client().state.load(), ClientState::PictureCode);
  EXPECT_EQ(f->last->statusLine, "403 Forbidden");
  EXPECT_EQ(f->last->body, "<img src=/Code.bmp>\n");
  EXPECT_EQ(Client().challengeCounts, 1);
  EXPECT_EQ(std::strlen(Client().challenge->expectedQuery), 9u);
}

TEST_F(PictureFlow, ImageRequestsInAnyCaseGetTheSameImage) {
  EXPECT_EQ(Get("/code.BMP", "x=1"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(f->last->statusLine, "403 Forbidden");
  const std::string image = f->last->body;
  ASSERT_EQ(image.size(), 54u + 360u * 40u);  // rows of 120 * 3 bytes
  EXPECT_EQ(image.substr(0, 2), "BM");
  EXPECT_EQ(Get("/Code.bmp", ""), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(f->last->body, image);
  EXPECT_EQ(Client().challengeCounts, 1);  // no new code for image requests
}

TEST_P(PictureFlowOf, RightAnswerInAnyCaseAllowsAndJournals) {
  const std::uint32_t hold = Client().holdUntil.load();
  EXPECT_EQ(Get("/page", "cODE=" + Code()), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Client().state.load(), ClientState::Allowed);
  EXPECT_EQ(Client().holdUntil.load(), hold);  // the hold is not moved
  EXPECT_EQ(Client().challenge, nullptr);
  EXPECT_EQ(Client().challengeCounts, 0);
  EXPECT_EQ(Journal(), std::to_string(hold) + ",2," + journaled + "\r\n");
  EXPECT_EQ(Get("/page", ""), SF_STATUS_REQ_NEXT_NOTIFICATION);
}

TEST_F(PictureFlow, AnswerOfAnotherLengthIsNoAnswer) {
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Get("/", "Code=" + Code() + "0"), SF_STATUS_REQ_FINISHED);
    EXPECT_EQ(f->last->body, "<img src=/Code.bmp>\n");
  }
  EXPECT_EQ(Get("/", "Kode=" + Code()), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(Client().challengeCounts, 1);
  EXPECT_EQ(Client().state.load(), ClientState::PictureCode);
}

TEST_P(PictureFlowOf, FourthWrongAnswerBlocks) {
  const std::uint32_t hold = Client().holdUntil.load();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Get("/", Wrong()), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(Client().state.load(), ClientState::PictureCode);
  EXPECT_EQ(Client().challengeCounts, 31);
  EXPECT_EQ(Get("/", Wrong()), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(f->last->body, "blocked\n");
  EXPECT_EQ(Client().state.load(), ClientState::Blocked);
  EXPECT_EQ(Client().holdUntil.load(), hold);
  EXPECT_EQ(Journal(), std::to_string(hold) + ",0," + journaled + "\r\n");
}

TEST_F(PictureFlow, ThreeWrongThenTheRightOneAllows) {
  for (int i = 0; i < 3; ++i) Get("/", Wrong());
  EXPECT_EQ(Get("/", "Code=" + Code()), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Client().state.load(), ClientState::Allowed);
}

TEST_F(PictureFlow, ExpiredCodeRestartsTheWrongAnswerCount) {
  for (int i = 0; i < 3; ++i) Get("/", Wrong());
  f->clock.Advance(61);
  EXPECT_EQ(Get("/", ""), SF_STATUS_REQ_FINISHED);  // a new code, count 2
  EXPECT_EQ(Client().challengeCounts, 2);
  for (int i = 0; i < 3; ++i) Get("/", Wrong());
  EXPECT_EQ(Client().state.load(), ClientState::PictureCode);
}

TEST_F(PictureFlow, ThirdExpiredCodeBlocks) {
  const std::uint32_t hold = Client().holdUntil.load();
  f->clock.Advance(61);
  Get("/", "");
  f->clock.Advance(61);
  Get("/", "");
  EXPECT_EQ(Client().challengeCounts, 3);
  EXPECT_EQ(Client().state.load(), ClientState::PictureCode);
  f->clock.Advance(61);
  EXPECT_EQ(Get("/", ""), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(f->last->body, "blocked\n");
  EXPECT_EQ(Client().state.load(), ClientState::Blocked);
  EXPECT_EQ(Journal(), std::to_string(hold) + ",0," + journaled + "\r\n");
}

TEST_F(PictureFlow, CodeOfExactlySixtySecondsIsStillValid) {
  const std::string code = Code();
  f->clock.Advance(60);
  Get("/", "");
  EXPECT_EQ(Code(), code);
}

TEST_F(PictureFlow, StateChangedWhileWaitingGetsItsNewTreatment) {
  // The hold runs out: the next request goes through evaluation again, which
  // returns the client to Normal and drops the challenge.
  f->clock.Advance(3601);
  EXPECT_EQ(f->Request("10.0.0.7", {{"HTTP_USER_AGENT", "Mozilla"}, {"URL", "/"}}),
            SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Client().state.load(), ClientState::Normal);
  EXPECT_EQ(Client().challenge, nullptr);
  EXPECT_EQ(Client().challengeCounts, 0);
}

}  // namespace
}  // namespace sentrel

namespace sentrel {
namespace {

// A client whose state changed while its request waited for the lock gets the
// treatment of its new state, and nothing is sent for it here.
TEST(HandlePictureCodeDirect, StateChangedWhileWaiting) {
  platform::FakeClock clock{1700000000};
  FilterSettings settings;
  settings.codePage = "page\n";
  picturecode::PictureCodeMaker maker(clock, picturecode::PictureCodeSettings{4, 60, 20});
  test::SettingsFolder folder;
  CacheJournal journal(clock);
  journal.Configure(NormalizeFolderPath(folder.Root()), 1);
  PictureCodeEnv env{settings, maker, journal, clock};
  const std::pair<ClientState, PictureCodeResult> cases[] = {
      {ClientState::Blocked, PictureCodeResult::Blocked},
      {ClientState::Normal, PictureCodeResult::Normal},
      {ClientState::Allowed, PictureCodeResult::Allowed}};
  for (const auto& [state, result] : cases) {
    ClientTally client;
    client.state = state;
    testhost::TestRequest request(std::map<std::string, std::string>{{"URL", "/Code.bmp"}});
    EXPECT_EQ(HandlePictureCode(env, request.Context(), "10.0.0.7", client), result);
    EXPECT_FALSE(request.headerSent);
    EXPECT_EQ(client.challenge, nullptr);
  }
  EXPECT_EQ(clock.SleptMs(), 0u);  // no code was made
}

}  // namespace
}  // namespace sentrel
