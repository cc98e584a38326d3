// The guard inside the shared library as a server loads it: notifications
// through the exported entry points install it, and after the last one the
// library can still be unloaded, which puts the previous handlers back.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "hosts/testhost/test_host.h"
#include "tests/support/filter_under_test.h"
#include "hosts/common/filter_library.h"

namespace sentrel {
namespace {

TEST(LibraryUnload, TheGuardLeavesWithTheLibrary) {
  struct sigaction before {};
  ASSERT_EQ(sigaction(SIGSEGV, nullptr, &before), 0);

  test::SettingsFolder folder;
  hosts::FilterLibrary library;
  ASSERT_TRUE(test::StartFilterLibrary(library, SENTREL_LIBRARY_PATH, folder));
  testhost::TestHost host(library);

  // Notifications on this thread and on threads that end afterwards: each
  // enters the guard (until the start-up has run, a request touches nothing
  // of the server's, so there is nothing here to fault in).
  auto request = [&host] {
    testhost::TestRequest r(std::map<std::string, std::string>{{"REMOTE_ADDR", "10.0.0.1"}});
    return host.Request(r);
  };
  EXPECT_EQ(request(), SF_STATUS_REQ_NEXT_NOTIFICATION);
  for (int i = 0; i < 2; ++i) {
    DWORD status = 0;
    std::thread server([&] {
      status = request();
      host.EndOfSession();
    });
    server.join();
    EXPECT_EQ(status, SF_STATUS_REQ_NEXT_NOTIFICATION);
  }
  // The guard's handler is in place while the library is loaded.
  struct sigaction loadedAction {};
  ASSERT_EQ(sigaction(SIGSEGV, nullptr, &loadedAction), 0);
  EXPECT_TRUE((loadedAction.sa_flags & SA_SIGINFO) != 0 && (loadedAction.sa_flags & SA_ONSTACK) != 0);
  EXPECT_NE(reinterpret_cast<void*>(loadedAction.sa_sigaction), reinterpret_cast<void*>(before.sa_sigaction));
  library.Terminate();
  library.Close();
  // Really gone: nothing the guard left behind keeps it loaded.
  void* still = dlopen(SENTREL_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, nullptr);
  if (still != nullptr) dlclose(still);
  // And the handler in place before it is back.
  struct sigaction after {};
  ASSERT_EQ(sigaction(SIGSEGV, nullptr, &after), 0);
  EXPECT_EQ(after.sa_flags & SA_SIGINFO, before.sa_flags & SA_SIGINFO);
  if ((before.sa_flags & SA_SIGINFO) != 0) {
    EXPECT_EQ(after.sa_sigaction, before.sa_sigaction);
  } else {
    EXPECT_EQ(after.sa_handler, before.sa_handler);
  }
}

}  // namespace
}  // namespace sentrel
