// Runs a check as an ordinary user. Permission checks (access(W_OK), writing
// into a read-only folder) always pass for the superuser, so when the tests run
// as the superuser the check runs in a child process that gives up its rights.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace sentrel::test {

enum class CheckResult { Passed, Failed, CannotDropRights };

inline CheckResult RunUnprivileged(const std::function<bool()>& check) {
  if (geteuid() != 0) return check() ? CheckResult::Passed : CheckResult::Failed;
  const pid_t child = fork();
  if (child < 0) return CheckResult::CannotDropRights;
  if (child == 0) {
    const uid_t nobody = 65534;
    if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return CheckResult::Failed;
  if (WEXITSTATUS(status) == 2) return CheckResult::CannotDropRights;
  return WEXITSTATUS(status) == 0 ? CheckResult::Passed : CheckResult::Failed;
}

}  // namespace sentrel::test
