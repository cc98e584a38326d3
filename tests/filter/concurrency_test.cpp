// Many server threads at once: requests for many clients and for one shared
// client through the entry point, while connections close. Run under
// ThreadSanitizer by the test command.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/filter_under_test.h"
#include "tests/support/run_together.h"

namespace sentrel {
namespace {

TEST(FilterConcurrency, EveryRequestIsCountedOnce) {
  test::SettingsFolder folder;
  folder.Write("Config.ini", "[Config]\r\nLogMin=50\r\nCacheMin=10\r\n");
  test::ModuleText quiet;  // tests every request, never fires
  test::ModuleText::StepText s;
  s.times = "1";
  s.logName = "Steps";
  s.logContent = "{S(URL)}";
  s.rules.push_back({"URL", "1", "^/never$"});
  quiet.steps.push_back(s);
  folder.AddModule("quiet.ini", quiet);
  test::ModuleText logger = quiet;  // fires on every request, log only
  logger.execute = "1";
  logger.logName = "Seen";
  logger.logContent = "{S(REMOTE_ADDR)} {TIME}";
  logger.steps[0].rules[0].pattern = "^/";
  folder.AddModule("logger.ini", logger);

  test::FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  f.CompleteStartup();
  ASSERT_FALSE(f.filter.StartupPending());

  constexpr int kThreads = 6;
  constexpr int kRequests = 400;
  constexpr int kClients = 50;
  test::RunTogether(kThreads, [&](int t) {
    for (int i = 0; i < kRequests; ++i) {
      // Every other request goes to the shared client 10.1.0.1.
      std::string address = i % 2 ? "10.1.0.1" : "10.2." + std::to_string(t) + "." + std::to_string((i / 2) % kClients);
      testhost::TestRequest r(std::map<std::string, std::string>{
          {"REMOTE_ADDR", address}, {"URL", "/page/" + std::to_string(i)}});
      f.host.Request(r);
      if (i % 37 == 0) f.host.EndOfSession();
    }
  });

  ClientTally* shared = f.filter.Clients().Find((10u << 24) | (1u << 16) | 1u);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->requestCount, 1u + kThreads * kRequests / 2);
  for (int t = 0; t < kThreads; ++t) {
    for (int c = 0; c < kClients; ++c) {
      ClientTally* client =
          f.filter.Clients().Find((10u << 24) | (2u << 16) | (std::uint32_t(t) << 8) | std::uint32_t(c));
      ASSERT_NE(client, nullptr);
      EXPECT_EQ(client->requestCount, 1u + kRequests / 2 / kClients) << t << "." << c;
    }
  }
  EXPECT_EQ(f.filter.Clients().ClientCount(), 1u + kThreads * kClients);
}

}  // namespace
}  // namespace sentrel
