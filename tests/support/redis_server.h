// A Redis server of the test's own: started on a free loopback port in a
// temporary folder, without persistence, and stopped at the end. Tests that
// need one skip with the reason when it cannot start (the redis-server
// package missing, say); the project's install script installs it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"

namespace sentrel::test {

class RedisServer {
 public:
  // Starts the server and waits until it answers.
  RedisServer();
  ~RedisServer();
  RedisServer(const RedisServer&) = delete;
  RedisServer& operator=(const RedisServer&) = delete;

  bool Running() const { return pid_ > 0; }
  // Why the server is not running.
  const std::string& Problem() const { return problem_; }
  int Port() const { return port_; }
  // "127.0.0.1:<port>", as section Share's Server names it.
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

  // Stops the server (its data goes with it) and starts it again, empty, on
  // the same port.
  void Kill();
  bool Restart();
  // Freezes and thaws the process: connections stay open, nothing answers.
  void Pause();
  void Resume();

  // redis-cli against the server with these arguments and standard input.
  ProgramResult Cli(const std::vector<std::string>& arguments, const std::string& input = "") const;

 private:
  bool Start();

  TempFolder folder_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::string problem_;
};

// Skips the test when the server could not start.
#define SENTREL_NEED_REDIS(server)                                                   \
  do {                                                                               \
    if (!(server).Running()) GTEST_SKIP() << "no Redis server: " << (server).Problem(); \
  } while (false)

}  // namespace sentrel::test
