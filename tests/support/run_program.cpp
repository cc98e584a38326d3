#include "tests/support/run_program.h"

#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace sentrel::test {

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input) {
  ProgramResult result;
  int in[2], out[2], err[2];
  if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return result;
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  // Input and the two outputs are moved at once, so that a program that
  // writes much before it reads everything cannot block on a full pipe.
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < input.size()) {
      const ssize_t n = ::write(in[1], input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(in[1]);
  });
  std::thread errReader([&] { result.err = ReadAll(err[0]); });
  result.out = ReadAll(out[0]);
  errReader.join();
  writer.join();
  int wait = 0;
  if (pid > 0 && ::waitpid(pid, &wait, 0) == pid && WIFEXITED(wait)) result.status = WEXITSTATUS(wait);
  return result;
}

}  // namespace sentrel::test
