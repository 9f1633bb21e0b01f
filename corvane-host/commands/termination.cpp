// SPDX-License-Identifier: MIT
#include "commands/termination.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>
#include <stdexcept>
#include <thread>

#include "base/failure.h"
#include "boundary/plugin_call.h"
#include "ending/pid_guard.h"
#include "ending/verified_signals.h"
#include "ending/waiter.h"
#include "evidence/installation.h"
#include "files/paths.h"
#include "files/resolver.h"
#include "proc/proc_table.h"
#include "proc/process_handle.h"

namespace corvane_host {
namespace {

using clock = std::chrono::steady_clock;

// How long SIGKILL is given: it cannot be caught, but a process in the
// kernel (state D) ends only when it returns to user space.
constexpr std::chrono::seconds kill_grace{2};
// How long a supervisor is given to start a program again before the host
// looks (systemd's RestartSec= is 100 ms unless set).
constexpr std::chrono::milliseconds restart_grace{500};
// How often the host looks again while a parent that outlived what it
// started may still start it again.
constexpr std::chrono::seconds look_interval{1};

// "already gone" says all there is to say; other fates keep their reason.
process_fate fate_for(std::optional<pid_t> pid, const std::string& token,
                      const std::string& command, const reason& because) {
  const fate what = fate_of(because);
  return {pid, token, command, what,
          what == fate::already_gone ? std::nullopt : std::optional(because)};
}

// Programs of the installation running after the wait: under identities the
// check did not record, a supervisor or a service manager started them again;
// one it recorded and left alone runs the installation's code now, whatever
// it ran before. The look is the check itself, run on a scratch session, so
// it follows the same rules.
void look_again(const loaded_plugin& plugin, const call_basics& basics, const std::string& root,
                const std::vector<recorded_process>& recorded, kill_outcome& outcome) {
  // The root the check was given, not its parent: a root moved away is an error.
  const std::string resolved = normal_path(root);
  if (const int error = reach_error(resolved); error != 0) {
    throw failure(failure_kind::system,
                  "cannot look again at " + resolved + ": " + std::strerror(error));
  }
  plugin_call call(basics);
  call.where = installation_at(directory_of(resolved), basics.time);
  session_t scratch;
  scratch.values["CORVANE_PATH"] = root;
  plugin.check_running_corvane(scratch, call);
  const installation_scan scan = std::move(call.scan).value_or(installation_scan{});
  outcome.incomplete = outcome.incomplete || !scan.uninspected.empty() || !scan.hidden.empty();
  for (const pid_t pid : records_of(scratch).ids()) {
    const auto who = scan.identities.find(pid);
    if (who == scan.identities.end()) {
      continue;
    }
    const bool known = std::any_of(recorded.begin(), recorded.end(),
                                   [&](const auto& entry) { return entry.who == who->second; });
    if (!known) {
      outcome.processes.push_back({pid, "", scan.ours.at(pid), fate::started_again, {}});
      continue;
    }
    for (process_fate& left : outcome.processes) {
      if (left.pid == pid && left.what == fate::left_alone) {
        left.what = fate::still_running;
        left.command = scan.ours.at(pid);
        if (left.reason && left.reason->why == why::no_installation_file) {
          left.reason.reset();  // it does now
        }
      }
    }
  }
}

// Waits for what was signalled, escalates if asked, and sets each fate.
// SIGKILL goes only to a process proven again to run the installation's file.
void wait_for_signalled(const ending& how, clock::time_point deadline, const installation& where,
                        int proc_fd, const std::vector<recorded_process>& signalled,
                        std::size_t first_fate, kill_outcome& outcome) {
  std::vector<process_identity> waited;
  std::map<pid_t, const recorded_process*> by_id;
  for (const recorded_process& entry : signalled) {
    waited.push_back(entry.who);
    by_id[entry.who.pid] = &entry;
  }
  std::vector<process_identity> survivors = wait_for_exit(waited, deadline, proc_fd);
  std::set<pid_t> killed_ids;
  std::map<pid_t, reason> unkilled;
  if (how.force) {
    std::vector<process_identity> killed;
    for (const process_identity& who : survivors) {
      const std::optional<reason> failed =
          send_verified(*by_id.at(who.pid), where, proc_fd, SIGKILL).failed;
      if (!failed) {
        killed.push_back(who);
      } else if (failed->why != why::has_ended && failed->why != why::now_another_process) {
        unkilled.emplace(who.pid, *failed);  // otherwise it ended on SIGTERM after all
      }
    }
    survivors = wait_for_exit(killed, clock::now() + kill_grace, proc_fd);
    for (const process_identity& who : killed) {
      killed_ids.insert(who.pid);
    }
  }
  std::set<pid_t> running;
  for (const process_identity& who : survivors) {
    running.insert(who.pid);
  }
  for (std::size_t i = 0; i < signalled.size(); ++i) {
    const pid_t pid = signalled[i].who.pid;
    process_fate& fate_of_one = outcome.processes[first_fate + i];
    const auto refused = unkilled.find(pid);
    if (refused != unkilled.end()) {
      fate_of_one.what = fate::still_running;
      fate_of_one.reason = refused->second;
    } else {
      fate_of_one.what = running.count(pid) != 0      ? fate::still_running
                         : killed_ids.count(pid) != 0 ? fate::ended_on_sigkill
                                                      : fate::ended_on_sigterm;
    }
  }
}

// The parent that may start `entry` again once it has ended: one that is
// neither the first process of its pid namespace (an init, which starts
// nothing again here) nor signalled itself.
std::optional<parent_process> restarter_of(const recorded_process& entry, const signal_scope& sends,
                                           const std::vector<recorded_process>& signalled) {
  std::optional<parent_process> parent = sends.parent_of(entry.who.pid);
  if (!parent || parent->who.pid == 1 || parent->namespace_init ||
      std::any_of(signalled.begin(), signalled.end(),
                  [&](const recorded_process& other) { return other.who == parent->who; })) {
    return std::nullopt;
  }
  return parent;
}

// Looks again once a supervisor has had time to start a program again; while
// a parent that may do so outlives what it started, about once a second until
// `deadline`, up to the first comeback.
void watch_for_comebacks(const loaded_plugin& plugin, const call_basics& basics,
                         const std::string& root, const session_records& records,
                         const std::vector<parent_process>& restarters, const ending& how,
                         clock::time_point deadline, kill_outcome& outcome) {
  std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(restart_grace, *how.wait));
  const bool supervised =
      std::any_of(restarters.begin(), restarters.end(), [&](const parent_process& parent) {
        const pin_result pinned = process_handle::pin(parent.who, basics.proc_fd);
        return pinned.handle && !pinned.handle->ended();
      });
  for (;;) {
    look_again(plugin, basics, root, records.identities, outcome);
    if (!supervised || outcome.has(fate::started_again) || clock::now() >= deadline) {
      return;
    }
    std::this_thread::sleep_until(std::min(clock::now() + look_interval, deadline));
  }
}

// A fate for each process the guard let through: sent, or why not.
std::vector<recorded_process> note_sends(const std::vector<recorded_process>& to_signal,
                                         const signal_scope& sends, kill_outcome& outcome) {
  std::vector<recorded_process> signalled;
  for (const recorded_process& entry : to_signal) {
    if (const std::optional<reason> failed = sends.failure_of(entry.who.pid)) {
      outcome.processes.push_back(fate_for(entry.who.pid, "", entry.command, *failed));
    } else {
      signalled.push_back(entry);
    }
  }
  return signalled;
}

}  // namespace

void note_failure(std::optional<std::string>& failure, const std::exception_ptr& error) noexcept {
  try {
    const std::string words = what_of(error);
    failure = failure ? *failure + "; " + words : words;
  } catch (...) {
    if (!failure) {
      failure.emplace();
    }
  }
}

kill_outcome end_recorded(const loaded_plugin& plugin, const call_basics& basics,
                          session_t& session, const session_records& records,
                          const std::string& root, const ending& how) {
  const installation where = installation_at(directory_of(normal_path(root)), basics.time);
  const guard_result guard = guard_recorded(records, where, basics.proc_fd);
  session.values[list_key] = guard.list;
  kill_outcome outcome;
  // A recorded process that could not be proven again in time may run on.
  outcome.incomplete =
      where.files->timed_out() ||
      std::any_of(guard.skipped.begin(), guard.skipped.end(), [](const skipped_entry& skipped) {
        return skipped.because.why == why::file_system_stalled;
      });
  for (const skipped_entry& skipped : guard.skipped) {
    outcome.processes.push_back(
        fate_for(skipped.pid, skipped.token, skipped.command, skipped.because));
  }

  plugin_call call(basics);
  call.signals.emplace(guard.to_signal, where, basics.proc_fd);
  try {
    outcome.result = plugin.kill_corvane(session, call);
  } catch (...) {
    note_failure(outcome.failure, std::current_exception());
  }
  const clock::time_point wait_start = clock::now();
  // From here on signals may be out: a failure is reported after the fates.
  outcome.sent = static_cast<int>(
      std::count_if(guard.to_signal.begin(), guard.to_signal.end(),
                    [&](const auto& entry) { return !call.signals->failure_of(entry.who.pid); }));
  if (outcome.failure && outcome.sent == 0) {
    return outcome;
  }
  try {
    const std::vector<recorded_process> signalled =
        note_sends(guard.to_signal, *call.signals, outcome);
    const std::size_t first_fate = outcome.processes.size();
    std::vector<parent_process> restarters;
    for (const recorded_process& entry : signalled) {
      std::optional<parent_process> restarter = restarter_of(entry, *call.signals, signalled);
      if (restarter && how.wait) {
        restarters.push_back(*restarter);  // watched for; said only where there is no wait
        restarter.reset();
      }
      outcome.processes.push_back(
          {entry.who.pid, "", entry.command, fate::signalled, {}, std::move(restarter)});
    }
    if (how.wait) {
      const clock::time_point deadline = wait_start + *how.wait;
      wait_for_signalled(how, deadline, where, basics.proc_fd, signalled, first_fate, outcome);
      watch_for_comebacks(plugin, basics, root, records, restarters, how, deadline, outcome);
    }
  } catch (...) {
    note_failure(outcome.failure, std::current_exception());
  }
  return outcome;
}

}  // namespace corvane_host
