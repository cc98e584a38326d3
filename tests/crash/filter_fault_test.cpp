// Faults during notifications, end to end: a filter instance with a settings
// folder on disk, driven through the test host. A fault or an exception in a
// server callback or below the filter leaves one dump, the request is passed
// on, and the locks the interrupted work held do not stop later requests.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "filter/core/filter.h"
#include "filter/logging/program_messages.h"
#include "hosts/testhost/test_host.h"
#include "tests/crash/faults.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/run_together.h"
#include "tests/support/lock_probe.h"

namespace sentrel {
namespace {

constexpr std::uint32_t kClientKey = (10u << 24) | 7u;  // 10.0.0.7

// The expected dump name of a time, formatted independently of the filter.
std::string DumpNameAt(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char name[96];
  std::snprintf(name, sizeof(name), "4.3.9.2_%4d-%d-%d %d_%d_%d.dmp", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return name;
}

using test::FreeForOthers;

// A module that blocks a client at its first request whose user agent
// contains "bot".
test::ModuleText BotModule() { return test::AgentModule("Bot", "0", "1"); }

// A module that puts such a client to the picture-code challenge.
test::ModuleText ChallengeModule() {
  test::ModuleText m = BotModule();
  m.execute = "3";
  return m;
}

class FilterFaults : public ::testing::Test {
 protected:
  void SetUp() override { Load(BotModule()); }

  void Load(const test::ModuleText& module) {
    folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\nCacheMin=1\r\n[Code]\r\nLength=4\r\n");
    folder.Write("Code.html", "<img src=/Code.bmp>\r\n");
    folder.AddModule("bot.ini", module);
    filter = std::make_unique<Filter>(clock, folder.Bootstrap());
    host = std::make_unique<testhost::TestHost>(testhost::EntryPoints{
        [this](HTTP_FILTER_VERSION* v) { return filter->GetFilterVersion(v); },
        [this](HTTP_FILTER_CONTEXT* c, DWORD t, void* d) { return filter->HttpFilterProc(c, t, d); },
        [this](DWORD f) { return filter->TerminateExtension(f); }});
    ASSERT_EQ(host->Load(), TRUE);
  }

  // Runs the start-up stages until `stage` is due (Started: all done).
  void StartUpTo(StartupStage stage) {
    ASSERT_TRUE(test::RunStartupUntil(*filter, *host, clock, stage));
  }

  DWORD Request(const std::string& agent, std::function<void(const std::string&)> onLookup = nullptr) {
    last = std::make_unique<testhost::TestRequest>(
        std::map<std::string, std::string>{{"REMOTE_ADDR", "10.0.0.7"}, {"HTTP_USER_AGENT", agent}});
    last->onGetServerVariable = std::move(onLookup);
    return host->Request(*last);
  }

  std::vector<std::string> Dumps() const {
    std::vector<std::string> dumps;
    for (const auto& name : folder.List("Log")) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dmp") == 0) dumps.push_back(name);
    }
    return dumps;
  }

  test::SettingsFolder folder;
  test::FaultingClock clock{1700000000};
  std::unique_ptr<Filter> filter;
  std::unique_ptr<testhost::TestHost> host;
  std::unique_ptr<testhost::TestRequest> last;
};

TEST_F(FilterFaults, FaultsInServerCallbacksAreDumpedAndTheRequestPassedOn) {
  StartUpTo(StartupStage::Started);
  struct Case {
    const char* name;
    const char* variable;  // the lookup that fails
    bool exception;        // a C++ exception instead of a processor fault
    const char* expected;  // in the dump
  };
  const Case cases[] = {
      // Before the client's record is touched.
      {"address fault", "REMOTE_ADDR", false, "Fault: SIGSEGV"},
      // During evaluation, under the client's lock.
      {"rule fault", "HTTP_USER_AGENT", false, "Fault: SIGSEGV"},
      // An exception from the host where the filter does not expect one
      // (rule lookups treat one as a missing variable).
      {"address exception", "REMOTE_ADDR", true, "Fault: C++ exception std::runtime_error\nMessage: host failed"},
  };
  std::uint64_t dumpsWritten = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clock.Advance(60);  // a fresh dump name
    const std::int64_t faultTime = clock.Now();
    const std::string variable = c.variable;
    const bool exception = c.exception;
    const DWORD status = Request("evilbot/1.0", [variable, exception](const std::string& name) {
      if (name != variable) return;
      if (exception) throw std::runtime_error("host failed");
      test::RaiseFault(test::FaultKind::InvalidAccess);
    });
    EXPECT_EQ(status, SF_STATUS_REQ_NEXT_NOTIFICATION);
    EXPECT_FALSE(last->headerSent);
    EXPECT_EQ(last->body, "");
    const std::vector<std::string> dumps = Dumps();
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0], DumpNameAt(faultTime));
    const std::string dump = folder.Read("Log/" + dumps[0]);
    EXPECT_NE(dump.find(c.expected), std::string::npos) << dump;
    EXPECT_EQ(filter->CrashDumps().DumpsWritten(), ++dumpsWritten);  // as the metrics page shows it
    folder.Folder().Remove("site/Log/" + dumps[0]);

    // The client's lock was released; its next request is evaluated as usual.
    ClientTally* client = filter->Clients().Find(kClientKey);
    if (client != nullptr) {
      ASSERT_TRUE(FreeForOthers(client->lock));
    }
    EXPECT_EQ(Request("harmless/2.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
    EXPECT_EQ(last->LookupsOf("HTTP_USER_AGENT"), 1);
    EXPECT_TRUE(Dumps().empty());
  }
  // And the module still fires for it.
  EXPECT_EQ(Request("evilbot/1.0"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(last->statusLine, "404 Object Not Found");
  EXPECT_EQ(filter->Clients().Find(kClientKey)->state.load(), ClientState::Blocked);
}

TEST_F(FilterFaults, FaultInTheEndOfSessionPathReleasesTheStartupAndLogLocks) {
  StartUpTo(StartupStage::StartDue);
  // The last stage logs its messages under the start-up lock; the second
  // clock reading of the first message is the log file's date, taken under
  // the log lock.
  clock.Arm(test::FaultingClock::Call::LocalTime, 1);
  clock.Advance(4);
  const std::int64_t faultTime = clock.Now();
  EXPECT_EQ(host->EndOfSession(), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_FALSE(clock.Armed());
  const std::vector<std::string> dumps = Dumps();
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0], DumpNameAt(faultTime));
  EXPECT_NE(folder.Read("Log/" + dumps[0]).find("Fault: SIGSEGV"), std::string::npos);

  ASSERT_TRUE(FreeForOthers(filter->Log().LogLock()));
  // The start-up lock is free: later notifications go through (the
  // interrupted start-up itself stays where it stood, so requests pass
  // unevaluated).
  clock.Advance(4);
  EXPECT_EQ(host->EndOfSession(), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_TRUE(filter->StartupPending());
  EXPECT_EQ(Request("evilbot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  // The log is written again.
  EXPECT_EQ(host->Unload(), TRUE);
  const std::string log = folder.Read("Log/Log_" + clock.FormatNow("%Y-%m-%d") + ".log");
  EXPECT_NE(log.find(messages::kUnloaded), std::string::npos) << log;
  EXPECT_EQ(log.find(messages::kStarting), std::string::npos) << log;
}

class ChallengeFaults : public FilterFaults {
 protected:
  void SetUp() override { Load(ChallengeModule()); }
};

TEST_F(ChallengeFaults, FaultUnderThePictureCodeLockReleasesItAndTheClientLock) {
  StartUpTo(StartupStage::Started);
  // Making the challenge waits under the client's lock and the picture-code
  // lock; that wait faults.
  clock.Arm(test::FaultingClock::Call::Sleep);
  EXPECT_EQ(Request("evilbot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_FALSE(clock.Armed());
  EXPECT_FALSE(last->headerSent);
  EXPECT_EQ(Dumps().size(), 1u);
  ClientTally* client = filter->Clients().Find(kClientKey);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->state.load(), ClientState::PictureCode);
  ASSERT_TRUE(FreeForOthers(client->lock));
  // The next request gets its challenge page (the picture-code lock is free).
  EXPECT_EQ(Request("evilbot/1.0"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(last->body, "<img src=/Code.bmp>\n");
  ASSERT_NE(client->challenge, nullptr);
}

TEST_F(FilterFaults, NoLogFolderNoDumpRequestPassedOn) {
  StartUpTo(StartupStage::Started);
  folder.Folder().Remove("site/Log");
  const DWORD status = Request("evilbot/1.0", [](const std::string& name) {
    if (name == "HTTP_USER_AGENT") test::RaiseFault(test::FaultKind::InvalidAccess);
  });
  EXPECT_EQ(status, SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_FALSE(folder.Exists("Log"));
  EXPECT_EQ(filter->CrashDumps().DumpsWritten(), 0u);
  EXPECT_EQ(Request("evilbot/1.0"), SF_STATUS_REQ_FINISHED);
}

TEST_F(FilterFaults, ConcurrencyFaultsOnSomeThreadsDoNotStopTheOthers) {
  StartUpTo(StartupStage::Started);
  constexpr int kThreads = 4;
  constexpr int kRequests = 60;
  std::atomic<int> passed{0};
  test::RunTogether(kThreads, [&](int t) {
    for (int i = 0; i < kRequests; ++i) {
      // One shared client, whose lock the faulting requests hold.
      testhost::TestRequest r(std::map<std::string, std::string>{{"REMOTE_ADDR", "10.0.0.9"},
                                                                  {"HTTP_USER_AGENT", "reader"}});
      if ((i + t) % 6 == 0) {
        r.onGetServerVariable = [](const std::string& name) {
          if (name == "HTTP_USER_AGENT") test::RaiseFault(test::FaultKind::InvalidAccess);
        };
      }
      if (host->Request(r) == SF_STATUS_REQ_NEXT_NOTIFICATION) ++passed;
    }
  });
  EXPECT_EQ(passed.load(), kThreads * kRequests);
  ClientTally* shared = filter->Clients().Find((10u << 24) | 9u);
  ASSERT_NE(shared, nullptr);
  EXPECT_TRUE(FreeForOthers(shared->lock));
  EXPECT_EQ(shared->state.load(), ClientState::Normal);
  EXPECT_FALSE(Dumps().empty());
}

TEST(FilterFaultDeathTest, AFaultInTheHostsOwnCodeStillEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        {
          test::SettingsFolder folder;
          folder.AddModule("bot.ini", BotModule());
          test::FilterUnderTest f(folder);
          f.host.Load();
          f.CompleteStartup();
          f.Request("10.0.0.7", {{"HTTP_USER_AGENT", "reader"}});
          f.host.Unload();
        }
        test::RaiseFault(test::FaultKind::InvalidAccess);
      },
      ::testing::KilledBySignal(SIGSEGV), "");
}

}  // namespace
}  // namespace sentrel
