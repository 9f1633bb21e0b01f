// SPDX-License-Identifier: MIT
#include "termination.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include "installation.h"
#include "paths.h"
#include "pid_guard.h"
#include "process_scan.h"
#include "verified_signals.h"
#include "waiter.h"

namespace corvane_host {
namespace {

using clock = std::chrono::steady_clock;

// How long SIGKILL is given: it cannot be caught, but a process in the
// kernel (state D) ends only when it returns to user space.
constexpr std::chrono::seconds kill_grace{2};
// How long a supervisor is given to start a program again before the host
// looks (systemd's RestartSec= is 100 ms unless set).
constexpr std::chrono::milliseconds restart_grace{500};

fate fate_of_failed_send(int error) {
  return error == ESRCH ? fate::already_gone : fate::not_permitted;
}

std::string reason_of_failed_send(int error) {
  if (error == ESRCH) {
    return {};
  }
  if (error == ESTALE) {
    return "the ID now belongs to another process";
  }
  return std::strerror(error);
}

// Programs of the installation that run again under IDs not recorded: a
// supervisor or a service manager started them again.
void look_again(const session_t& session, const std::set<std::string>& commands,
                const std::set<pid_t>& known, kill_outcome& outcome) {
  const std::string root = value_of(session, "CORVANE_PATH");
  if (root.empty() || commands.empty()) {
    return;
  }
  const installation_scan scan =
      scan_installation(installation_at(directory_of(normal_path(root))), false);
  for (const auto& [pid, command] : scan.ours) {
    if (known.count(pid) == 0 && commands.count(command) != 0) {
      outcome.processes.push_back({pid, command, fate::started_again, ""});
    }
  }
}

}  // namespace

kill_outcome end_recorded(const loaded_plugin& plugin, session_t& session, const ending& how) {
  const guard_result guard = guard_recorded(session);
  kill_outcome outcome;
  for (const skipped_id& skipped : guard.skipped) {
    const bool failure = !skipped.gone && skipped.reason.rfind("it cannot be verified", 0) == 0;
    outcome.processes.push_back({std::atoi(skipped.id.c_str()), skipped.command,
                                 skipped.gone ? fate::already_gone
                                 : failure    ? fate::not_permitted
                                              : fate::left_alone,
                                 skipped.gone ? "" : skipped.reason});
  }

  std::map<pid_t, int> sends;
  {
    const verified_signals scope(guard.to_signal);
    outcome.result = plugin.kill_corvane(&session);
    sends = scope.sends();
  }
  std::vector<process_identity> signalled;
  std::set<pid_t> known;
  std::set<std::string> commands;
  for (const process_identity& who : guard.to_signal) {
    known.insert(who.pid);
    commands.insert(who.command);
    const auto send = sends.find(who.pid);
    if (send == sends.end()) {
      outcome.processes.push_back(
          {who.pid, who.command, fate::left_alone, "the plug-in did not signal it"});
    } else if (send->second != 0) {
      outcome.processes.push_back({who.pid, who.command, fate_of_failed_send(send->second),
                                   reason_of_failed_send(send->second)});
    } else {
      signalled.push_back(who);
    }
  }
  outcome.sent = static_cast<int>(signalled.size());
  if (!how.wait) {
    for (const process_identity& who : signalled) {
      outcome.processes.push_back({who.pid, who.command, fate::signalled, ""});
    }
    return outcome;
  }

  std::vector<process_identity> survivors = wait_for_exit(signalled, clock::now() + *how.wait);
  std::set<pid_t> outlived;
  std::vector<process_identity> killed;
  if (how.force) {
    std::vector<process_identity> unkilled;
    for (const process_identity& who : survivors) {
      (send_verified(who, SIGKILL) == 0 ? killed : unkilled).push_back(who);
    }
    survivors = wait_for_exit(killed, clock::now() + kill_grace);
    survivors.insert(survivors.end(), unkilled.begin(), unkilled.end());
    for (const process_identity& who : killed) {
      outlived.insert(who.pid);
    }
  }
  std::set<pid_t> running;
  for (const process_identity& who : survivors) {
    running.insert(who.pid);
  }
  for (const process_identity& who : signalled) {
    const fate what = running.count(who.pid) != 0    ? fate::still_running
                      : outlived.count(who.pid) != 0 ? fate::ended_on_sigkill
                                                     : fate::ended_on_sigterm;
    outcome.processes.push_back({who.pid, who.command, what, ""});
  }
  std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(restart_grace, *how.wait));
  look_again(session, commands, known, outcome);
  return outcome;
}

}  // namespace corvane_host
