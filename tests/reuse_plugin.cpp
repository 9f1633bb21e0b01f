// SPDX-License-Identifier: MIT
// A plug-in whose check starts bin/victim, lets the host list it, ends it, has the kernel hand
// its ID to a stranger (ns_last_pid, in a private pid namespace) and records that ID. Its kill
// signals what is recorded; with REUSE_PLUGIN_SIGNALS=first only the first, then waits until
// that one's parent has reaped it; with REUSE_PLUGIN_SIGNALS=throw it throws after the first.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "host-services.h"

namespace {

pid_t spawn(const char* file, const char* argument) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl(file, file, argument, static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

}  // namespace

extern "C" int check_running_corvane(session_t* session) {
  const std::string victim_file = path(env_get_string(session, "CORVANE_PATH")) + "/bin/victim";
  if (access(victim_file.c_str(), X_OK) != 0) {  // another test's installation
    env_set_string(session, "RUNNING_PROC_LIST", "");
    return 0;
  }
  const pid_t victim = spawn(victim_file.c_str(), "30");
  const std::string link = "/proc/" + std::to_string(victim) + "/exe";
  for (std::string exe(4096, '\0'); exe != victim_file;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    exe.resize(static_cast<std::size_t>(std::max(0L, readlink(link.c_str(), exe.data(), 4096))));
  }
  const bool listed = get_process_list().count(victim) != 0;
  kill(victim, SIGKILL);
  waitpid(victim, nullptr, 0);
  std::ofstream("/proc/sys/kernel/ns_last_pid") << victim - 1 << std::flush;
  const pid_t stranger = spawn("/bin/sleep", "30");
  print_log("reuse: listed %d, victim %d, stranger %d", listed ? 1 : 0, victim, stranger);
  env_set_string(session, "RUNNING_PROC_LIST", std::to_string(stranger));
  return 0;
}

extern "C" int kill_corvane(session_t* session) {
  const char* signals = std::getenv("REUSE_PLUGIN_SIGNALS");
  const bool first_only = signals != nullptr && std::string(signals) == "first";
  const bool throws = signals != nullptr && std::string(signals) == "throw";
  std::istringstream list(env_get_string(session, "RUNNING_PROC_LIST"));
  int result = -1;
  for (std::string id; std::getline(list, id, ';');) {
    if (id != "-1") {
      result = kill(std::stoi(id), SIGTERM);
      if (throws) {
        throw std::runtime_error("the plug-in's own failure");
      }
      const std::string entry = "/proc/" + id;
      for (int i = 0; first_only && i < 2500 && access(entry.c_str(), F_OK) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // until its parent reaps it
      }
      if (first_only) {
        break;
      }
    }
  }
  return result;
}
