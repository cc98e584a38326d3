#include "tests/support/redis_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace sentrel::test {

namespace {

// The program's path through PATH; empty when it is not there.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  folders += ":/usr/sbin:/usr/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t size = sizeof(a);
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(fd);
  return port;
}

// Whether the server answers PING with PONG.
bool Answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  timeval tv{0, 200000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 && ::send(fd, "PING\r\n", 6, MSG_NOSIGNAL) == 6) {
    char reply[16] = {};
    ok = ::recv(fd, reply, sizeof(reply) - 1, 0) > 0 && std::string(reply).rfind("+PONG", 0) == 0;
  }
  ::close(fd);
  return ok;
}

}  // namespace

RedisServer::RedisServer() {
  port_ = FreePort();
  Start();
}

RedisServer::~RedisServer() { Kill(); }

bool RedisServer::Start() {
  const std::string program = FindProgram("redis-server");
  if (program.empty()) {
    problem_ = "redis-server is not installed (Debian package redis-server; see scripts/install-deps)";
    return false;
  }
  const std::string port = std::to_string(port_);
  const std::string log = folder_.Path() + "/redis.log";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(program.c_str(), program.c_str(), "--port", port.c_str(), "--bind", "127.0.0.1", "--save", "",
            "--appendonly", "no", "--dir", folder_.Path().c_str(), "--logfile", log.c_str(), "--daemonize", "no",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid < 0) {
    problem_ = "cannot start redis-server";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Answers(port_)) {
      pid_ = pid;
      return true;
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      problem_ = "redis-server ended at start: " + folder_.Read("redis.log");
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  problem_ = "redis-server did not answer on port " + port + " within 10 s";
  return false;
}

void RedisServer::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);  // also ends a paused server, without letting it answer first
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  problem_ = "stopped";
}

bool RedisServer::Restart() {
  Kill();
  return Start();
}

void RedisServer::Pause() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void RedisServer::Resume() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}

ProgramResult RedisServer::Cli(const std::vector<std::string>& arguments, const std::string& input) const {
  std::vector<std::string> all{"-h", "127.0.0.1", "-p", std::to_string(port_)};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return RunProgram(FindProgram("redis-cli"), all, input);
}

}  // namespace sentrel::test
