// SPDX-License-Identifier: MIT
// A program that takes SIGTERM in one of the ways daemons do, then waits:
//   signalfd  every thread blocks it; a signalfd reads it (sd-event, GLib)
//   sigwait   every thread blocks it; a thread waits for it in sigwait()
//   worker    the main thread blocks it; a worker thread leaves it unblocked
//             and the handler ends the program
//   handler FILE [PROGRAM ARG...]
//             a handler writes FILE and ends it; it starts PROGRAM first
// Once set up, its argv[0] reads "ready". Or, as `leader`, its main thread exits a second
// after it starts while another goes on: exe and cmdline unreadable, yet it runs. Or, as
// `maps FILE`, it maps FILE between hundreds of pages of its own, so that FILE's line comes
// pages into its /proc/PID/maps whichever way the kernel places mappings; FILE is not kept
// open, so only maps shows it in use. Or, as `exiting`, it starts a pid namespace whose first
// process is stuck partway through its exit, its memory gone: that process waits for another of
// its namespace, whose parent (this program) does not reap it until SIGTERM comes. Or, as
// `cmdline`, it shows a command line of 64 MiB, as any process may (prctl), then prints "ready".
#include <fcntl.h>
#include <linux/prctl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {
const char* handled = nullptr;  // the file the handler writes
}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  if (mode == "exiting") {
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    if (unshare(CLONE_NEWPID) != 0) {
      return 2;
    }
    const pid_t first = fork();
    const pid_t other = first > 0 ? fork() : first;  // the first pauses too
    if (other == 0) {
      pause();
    }
    if (other < 0) {
      return 2;
    }
    kill(first, SIGKILL);  // its exit kills `other`, then waits for it to be reaped
    std::memset(argv[0], 0, std::strlen(argv[0]));
    std::memcpy(argv[0], "ready", 5);
    int signal = 0;
    sigwait(&term, &signal);
    while (wait(nullptr) > 0) {
    }
    pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    raise(SIGTERM);
  }
  if (mode == "leader") {
    std::thread([] { pause(); }).detach();
    sleep(1);
    pthread_exit(nullptr);
  }
  if (mode == "cmdline") {
    constexpr std::size_t size = std::size_t{64} << 20;
    void* const mapped =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
      return 2;
    }
    auto* const text = static_cast<char*>(mapped);
    for (std::size_t i = 0; i < size; ++i) {
      text[i] = i % 4096 == 4095 ? '\0' : '/';
    }
    // The other fields as they are (stat's fields 26-28 and 45-51, counted from 1).
    std::ifstream stat_file("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(stat_file)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::vector<std::string> field(2);  // the ID and the name come before ")"
    field.insert(field.end(), std::istream_iterator<std::string>(fields), {});
    const auto at = [&field](std::size_t number) { return std::stoul(field.at(number - 1)); };
    const auto arguments = reinterpret_cast<unsigned long>(text);
    const auto brk = reinterpret_cast<unsigned long>(sbrk(0));
    // In the order of its fields: code, data, heap, stack, arguments, environment, no auxiliary
    // vector, the same executable.
    prctl_mm_map map{
        at(26),    at(27),           at(45), at(46), at(47),  brk, at(28),
        arguments, arguments + size, at(50), at(51), nullptr, 0,   static_cast<std::uint32_t>(-1)};
    if (prctl(PR_SET_MM, PR_SET_MM_MAP, &map, sizeof map, 0) != 0) {
      return 3;
    }
    std::puts("ready");  // said, not shown: whoever reads the command line reads 64 MiB
    std::fflush(stdout);
    pause();
  }
  if (mode == "maps" && argc > 2) {
    const int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
    for (int i = 0; i <= 600; ++i) {
      // Pages side by side stay apart in maps where their protections differ.
      void* const mapped = i == 300 ? mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0)
                                    : mmap(nullptr, 4096, i % 2 == 0 ? PROT_READ : PROT_NONE,
                                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (mapped == MAP_FAILED) {
        return 1;
      }
    }
    close(fd);
  }
  if (mode == "worker") {
    signal(SIGTERM, [](int) { _exit(0); });
    std::thread([] { pause(); }).detach();
  }
  if (mode == "handler" && argc > 2) {
    handled = argv[2];
    signal(SIGTERM, [](int) {
      const int fd = open(handled, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      _exit(fd >= 0 && write(fd, "SIGTERM", 7) == 7 ? 0 : 1);
    });
    if (argc > 3 && fork() == 0) {
      execv(argv[3], argv + 3);
      _exit(127);
    }
  } else {
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
  }
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
