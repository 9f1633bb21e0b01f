// SPDX-License-Identifier: MIT
// The macOS terminate_process, run here: it is the POSIX kill() of Linux too, so it delivers a real
// SIGTERM to a real child and says so, and fails for the ID of a child already reaped. It runs as
// the first process of a private pid namespace (scripts/check-platforms puts it there): no ID it
// signals can name a process of the machine's. Anywhere else it does nothing and exits with 77.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "corvane-kill.h"

namespace {

int failures = 0;

void expect(bool holds, const char* what) {
  if (!holds) {
    std::printf("FAILED: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main() {
  if (getpid() != 1) {
    std::printf("not the first process of a private pid namespace: nothing run\n");
    return 77;
  }
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    alarm(5);  // SIGALRM ends it in 5 s where no SIGTERM does
    pause();   // SIGTERM's default action ends it
    _exit(0);
  }
  expect(terminate_process(child) == 0, "signalling a running child returns 0");
  int status = 0;
  waitpid(child, &status, 0);
  expect(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM, "the child is ended by SIGTERM");
  errno = 0;
  expect(terminate_process(child) == -1 && errno == ESRCH, "-1 (ESRCH) for a reaped child's ID");
  if (failures == 0) {
    std::printf("macOS terminate_process: 0 and a child ended by SIGTERM; -1 once it is reaped\n");
  }
  return failures == 0 ? 0 : 1;
}
