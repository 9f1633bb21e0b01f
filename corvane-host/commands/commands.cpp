// SPDX-License-Identifier: MIT
#include "commands/commands.h"

#include <pwd.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

#include "base/text.h"
#include "boundary/default_plugin.h"
#include "boundary/plugin_call.h"
#include "boundary/plugin_loader.h"
#include "commands/report.h"
#include "commands/termination.h"
#include "ending/pid_guard.h"
#include "ending/session_records.h"
#include "ending/warnings.h"
#include "evidence/installation.h"
#include "evidence/process_scan.h"
#include "files/log_file.h"
#include "files/paths.h"
#include "files/resolver.h"
#include "files/session.h"
#include "files/session_file.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {

struct usage_error : failure {
  explicit usage_error(const std::string& what) : failure(failure_kind::usage, what) {}
};

// The home directories of the user who runs this host, and of the user
// behind sudo, resolved as roots are.
std::vector<std::string> calling_users_homes() {
  std::vector<std::string> homes;
  const auto add_home = [&homes](const passwd* user) {
    if (user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
      homes.push_back(directory_of(normal_path(user->pw_dir)));
    }
  };
  add_home(getpwuid(getuid()));
  if (const char* sudo_user = std::getenv("SUDO_USER")) {
    add_home(getpwnam(sudo_user));
  }
  return homes;
}

// A root that names nothing, or whose processes would be every process on the
// machine, is refused before anything is loaded or changed.
void validate_root(const std::string& root) {
  if (root.empty()) {
    throw usage_error("--root is empty");
  }
  if (root.size() >= PATH_MAX) {
    throw usage_error("--root is " + std::to_string(root.size()) +
                      " bytes long; a path has at most " + std::to_string(PATH_MAX - 1));
  }
  for (const char c : root) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      throw usage_error("--root holds a control character");
    }
  }
  if (const int error = reach_error(root); error != 0) {
    throw usage_error("--root " + printable(root) + ": " + std::strerror(error));
  }
  const std::string directory = directory_of(normal_path(root));
  const std::string reason = broad_root_reason(directory, calling_users_homes());
  if (!reason.empty()) {
    throw usage_error("--root " + printable(root) + " (" + printable(directory) +
                      ") cannot be an installation: " + reason);
  }
}

// The command line has checked that `seconds` is a plain number in range.
std::chrono::milliseconds milliseconds_of(double seconds) {
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// The entries of /proc read at most to count the processes of a namespace.
constexpr std::size_t most_processes = 65536;

// What the report says of a recorded process that could not be pinned again.
std::string unpinned_warning(int error) {
  return error == ESRCH    ? "it has already ended"
         : error == ESTALE ? "its ID now belongs to another process"
                           : "it cannot be inspected: " + std::string(std::strerror(error));
}

// Whether this host's users may signal a process of `status`, as kill(2)
// allows: root, or a real or saved user ID that is one of this host's.
struct signalling_users {
  uid_t real = getuid();
  uid_t effective = geteuid();

  [[nodiscard]] bool may_signal(const process_status& status) const {
    return effective == 0 || status.real_uid == real || status.real_uid == effective ||
           status.saved_uid == real || status.saved_uid == effective;
  }
};

// Each recorded process as the scan saw it, its warnings read through a
// handle that pins the identity the scan decided on.
std::vector<process_view> recorded_processes(const std::vector<pid_t>& ids,
                                             const installation_scan& scan, int proc_fd) {
  std::map<uid_t, std::string> users;
  const auto name_of = [&users](uid_t uid) -> const std::string& {
    auto known = users.find(uid);
    if (known == users.end()) {
      known = users.emplace(uid, user_name(uid)).first;
    }
    return known->second;
  };
  const signalling_users host;  // asked once, not once a process
  std::vector<process_view> processes;
  for (const pid_t pid : ids) {
    const auto command = scan.ours.find(pid);
    const auto name = scan.names.find(pid);
    const auto who = scan.identities.find(pid);
    process_view view{pid,
                      "?",
                      name != scan.names.end()     ? name->second
                      : command != scan.ours.end() ? command->second
                                                   : "?",
                      {},
                      {}};
    // The pin the scan decided on, where it kept it; a new pin of that identity otherwise.
    const auto held = scan.held.find(pid);
    pin_result pinned;
    if (held == scan.held.end()) {
      pinned = who != scan.identities.end() ? process_handle::pin(who->second, proc_fd)
                                            : pin_result{std::nullopt, ESTALE};
    }
    const process_handle* handle = held != scan.held.end() ? &held->second
                                   : pinned.handle         ? &*pinned.handle
                                                           : nullptr;
    const auto status = handle != nullptr ? read_status(*handle) : proc_result<process_status>{};
    if (handle == nullptr || status.gone() || handle->ended()) {
      view.warnings.push_back(unpinned_warning(handle != nullptr ? ESRCH : pinned.error));
    } else if (!status.value) {
      view.warnings.push_back("its status cannot be read: " +
                              std::string(std::strerror(status.error)));
    } else {
      const process_handle& process = *handle;
      sigterm_view sigterm{*status.value,
                           sigterm_taken_at_once(process, *status.value),
                           "",
                           service_of_cgroup(read_cgroup(process).value.value_or("")),
                           {}};
      if (status.value->namespace_init && status.value->handles_sigterm) {
        sigterm.namespace_others = members_of_namespace(process, proc_fd, most_processes);
      }
      view.user = name_of(status.value->real_uid);
      if (!host.may_signal(*status.value)) {
        sigterm.foreign_owner = view.user;
      }
      view.unit = sigterm.unit;
      view.warnings = warnings_of(sigterm);
    }
    processes.push_back(std::move(view));
  }
  return processes;
}

// What a check found, and the records it left in the session.
struct check_result {
  check_outcome outcome;
  session_records records;
};

check_result check(const loaded_plugin& plugin, const call_basics& basics, session_t& session,
                   const options& options) {
  const std::string directory = directory_of(normal_path(options.root));
  plugin_call call(basics);
  call.where = installation_at(directory, basics.time);
  call.files_in_use = options.files_in_use;
  session.values["CORVANE_PATH"] = options.root;
  const std::string before = value_of(session, "SHORT_DESC");
  plugin.check_running_corvane(session, call);
  const installation_scan scan = std::move(call.scan).value_or(installation_scan{});
  session_records records{decode_list(value_of(session, list_key)), {}};
  records.identities = record_identities(records.ids(), scan.identities, scan.ours);
  session.values[identities_key] = encode_identities(records.identities);
  check_outcome outcome;
  outcome.root = directory;
  outcome.processes = recorded_processes(records.ids(), scan, basics.proc_fd);
  outcome.prerequisite_raised = value_of(session, "SHORT_DESC") != before;
  outcome.spared = scan.spared;
  outcome.uninspected = scan.uninspected;
  outcome.hidden = scan.hidden;
  outcome.not_indexed = call.where->files->left_out();
  outcome.index_timed_out = call.where->files->timed_out();
  outcome.as_root = geteuid() == 0;
  if (options.files_in_use) {
    outcome.using_files = scan.using_files;
  }
  return {std::move(outcome), std::move(records)};
}

exit_status status_of(const std::optional<check_outcome>& checked,
                      const std::optional<kill_outcome>& killed) {
  const bool partial = checked && checked->incomplete();
  if (!killed) {
    if (!checked->processes.empty()) {
      return exit_detected;
    }
    return partial ? exit_incomplete : exit_clear;
  }
  if (killed->has(fate::not_permitted) || killed->has(fate::still_running) ||
      killed->has(fate::started_again)) {
    return exit_not_all_ended;
  }
  // What could not be inspected may still run, signalled or not.
  return partial || killed->incomplete ? exit_incomplete : exit_clear;
}

// The installation a kill is about: --root, or the root the session names.
// A session that another user could have written names none that root may
// trust: kill then needs --root, and the session must agree with it.
std::string root_for_kill(const options& options, const session_t& session,
                          const session_file& file) {
  std::string recorded = value_of(session, "CORVANE_PATH");
  if (options.root.empty()) {
    if (file.others_may_write()) {
      throw session_error("the session " + file.path() +
                          " could have been written by another user: name the installation with "
                          "kill --root DIR");
    }
    try {
      validate_root(recorded);
    } catch (const usage_error& error) {
      throw session_error("the session " + file.path() + " names no installation: " + error.what());
    }
    return recorded;
  }
  if (recorded.empty() ||
      directory_of(normal_path(recorded)) != directory_of(normal_path(options.root))) {
    throw session_error("the session " + file.path() + " was not written for " + options.root);
  }
  return options.root;
}

// Once a signal has gone out nothing throws past this: the session is saved
// and the report printed where they can be, then what failed is said, and
// the exit status says that signals went out.
template <typename Save, typename Report>
exit_status after_signals(std::optional<std::string>& failure, Save&& save, Report&& report,
                          exit_status status) noexcept {
  try {
    save();
  } catch (...) {
    note_failure(failure, std::current_exception());
  }
  try {
    report();
  } catch (...) {
    note_failure(failure, std::current_exception());
  }
  if (!failure) {
    return status;
  }
  try {
    std::cerr << "corvane-host: " << (failure->empty() ? "out of memory" : failure->c_str())
              << "\n";
  } catch (...) {
    // the exit status still says it
  }
  return exit_signalled_after_failure;
}

exit_status execute(const options& options, const std::shared_ptr<time_bound>& time) {
  const bool checks = options.command != command::kill;
  const bool kills = options.command != command::check;
  const unique_fd proc = open_proc();
  ensure_own_proc(proc.get());
  if (checks || !options.root.empty()) {
    validate_root(options.root);
  }
  if (options.command == command::kill && !options.session_file) {
    throw usage_error("kill needs --session FILE: it ends what a check recorded there");
  }

  std::optional<log_file> log;
  if (options.log_file) {
    log.emplace(*options.log_file);
  }
  const call_basics basics{log ? log->stream() : stderr, proc.get(), time};
  const std::string plugin_file = options.plugin.empty() ? default_plugin() : options.plugin;
  const loaded_plugin plugin(plugin_file);

  std::optional<session_file> file;
  session_t session;
  if (options.session_file) {
    file.emplace(*options.session_file, milliseconds_of(options.lock_timeout_seconds),
                 options.command == command::kill);
    session = file->load();
    if (options.command == command::kill && session.values.count(list_key) == 0) {
      throw session_error("the session " + file->path() +
                          " holds no check's records: run check with it first");
    }
  }
  std::optional<check_outcome> checked;
  std::optional<kill_outcome> killed;
  std::optional<session_records> records;
  if (checks) {
    check_result result = check(plugin, basics, session, options);
    checked = std::move(result.outcome);
    records = std::move(result.records);
  }
  if (kills) {
    ending how;
    if (options.wait_seconds) {
      how.wait = milliseconds_of(*options.wait_seconds);
    }
    how.force = options.force;
    const std::string root = checks ? options.root : root_for_kill(options, session, *file);
    if (!records) {
      records = records_of(session);
    }
    killed = end_recorded(plugin, basics, session, *records, root, how);
  }
  const auto save = [&] {
    if (file) {
      file->save(session);
    }
  };
  const auto report = [&] {
    errno = 0;
    std::cout << (options.json ? render_json(plugin_file, checked, killed)
                               : render_text(checked, killed))
              << std::flush;
    // A report that went nowhere (a full disk, a closed pipe) is a failure.
    if (!std::cout) {
      const int error = errno;
      throw failure(failure_kind::system,
                    std::string("cannot write the report") +
                        (error != 0 ? std::string(": ") + std::strerror(error) : ""));
    }
  };
  if (killed && killed->sent > 0) {
    return after_signals(killed->failure, save, report, status_of(checked, killed));
  }
  if (killed && killed->failure) {
    throw failure(failure_kind::system,
                  killed->failure->empty() ? "out of memory" : *killed->failure);
  }
  save();
  report();
  return status_of(checked, killed);
}

}  // namespace

exit_status run_command(const options& options) {
  const auto time = std::make_shared<time_bound>(milliseconds_of(options.fs_timeout_seconds));
  exit_status status = exit_error;
  try {
    status = execute(options, time);
  } catch (const failure& error) {
    std::cerr << "corvane-host: " << error.what() << "\n";
    status = error.kind == failure_kind::usage ? exit_usage : exit_error;
  } catch (const std::exception& error) {
    std::cerr << "corvane-host: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "corvane-host: an exception that says nothing\n";
  }
  if (time->abandoned()) {
    // A helper may still wait in the kernel, and wake while destructors run.
    std::cout.flush();
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}

}  // namespace corvane_host
