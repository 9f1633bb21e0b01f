// SPDX-License-Identifier: MIT
// A program that takes SIGTERM in one of the ways daemons do, then waits:
//   signalfd  every thread blocks it; a signalfd reads it (sd-event, GLib)
//   sigwait   every thread blocks it; a thread waits for it in sigwait()
//   worker    the main thread blocks it; a worker thread leaves it unblocked
//             and the handler ends the program
// Once set up, its argv[0] reads "ready", so a test can see it is. And:
//   leader    its main thread exits a second after it starts, another goes on:
//             its exe and command line can no longer be read, yet it runs
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <thread>

namespace {

sigset_t sigterm_only() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "leader") {
    std::thread([] { pause(); }).detach();
    sleep(1);
    pthread_exit(nullptr);
  }
  const sigset_t term = sigterm_only();
  if (mode == "worker") {
    signal(SIGTERM, [](int) { _exit(0); });
    std::thread([] { pause(); }).detach();
  }
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  if (mode == "signalfd") {
    const int fd = signalfd(-1, &term, SFD_CLOEXEC);
    std::thread([fd] {
      signalfd_siginfo info{};
      if (read(fd, &info, sizeof info) > 0) {
        _exit(0);
      }
    }).detach();
  } else if (mode == "sigwait") {
    std::thread([term] {
      int signal = 0;
      sigwait(&term, &signal);
      _exit(0);
    }).detach();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the threads are set up
  std::memset(argv[0], 0, std::strlen(argv[0]));
  std::memcpy(argv[0], "ready", 5);
  pause();
}
