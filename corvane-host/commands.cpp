// SPDX-License-Identifier: MIT
#include "commands.h"

#include <pwd.h>
#include <unistd.h>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

#include "default_plugin.h"
#include "installation.h"
#include "paths.h"
#include "pid_guard.h"
#include "plugin_loader.h"
#include "proc_table.h"
#include "process_scan.h"
#include "report.h"
#include "services.h"
#include "session.h"
#include "session_file.h"
#include "termination.h"

namespace corvane_host {
namespace {

struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
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
  std::error_code error;
  if (!std::filesystem::exists(root, error)) {
    throw usage_error("--root " + root + ": no such file or directory");
  }
  const std::string directory = directory_of(normal_path(root));
  const std::string reason = broad_root_reason(directory, calling_users_homes());
  if (!reason.empty()) {
    throw usage_error("--root " + root + " (" + directory +
                      ") cannot be an installation: " + reason);
  }
}

// The command line has checked that `seconds` is a plain number in range.
std::chrono::milliseconds milliseconds_of(double seconds) {
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

std::vector<std::string> warnings_for(const proc_result<process_status>& read) {
  if (read.gone()) {
    return {"it has already ended"};
  }
  if (!read.value) {
    return {"its status cannot be read: " + std::string(std::strerror(read.error))};
  }
  const process_status* const status = &*read.value;
  std::vector<std::string> warnings;
  if (status->ignores_sigterm) {
    warnings.emplace_back("it ignores SIGTERM: it will not end");
  }
  if (status->blocks_sigterm) {
    warnings.emplace_back("it blocks SIGTERM: it ends only once it unblocks it");
  }
  if (status->state == 'T' || status->state == 't') {
    warnings.emplace_back("it is stopped: SIGTERM ends it only once it continues");
  }
  if (status->namespace_init && !status->handles_sigterm) {
    warnings.emplace_back(
        "it is the first process of its pid namespace (a container's init), which SIGTERM "
        "ends only if it handles it, and it does not");
  }
  const bool may_signal = geteuid() == 0 || status->real_uid == getuid() ||
                          status->real_uid == geteuid() || status->saved_uid == getuid() ||
                          status->saved_uid == geteuid();
  if (!may_signal) {
    warnings.emplace_back("it belongs to " + user_name(status->real_uid) +
                          ": this user may not signal it");
  }
  return warnings;
}

// Each recorded process, its command as the host read it (the plug-in's
// names list is lower-cased, and one odd name there would shift the rest).
std::vector<process_view> recorded_processes(const session_t& session, const proc_map_t& commands) {
  const std::vector<pid_t> ids = recorded_ids(session);
  std::map<uid_t, std::string> users;
  std::vector<process_view> processes;
  processes.reserve(ids.size());
  for (const pid_t pid : ids) {
    const proc_result<process_status> status = read_status(pid);
    std::string user = "?";
    if (status.value) {
      const uid_t uid = status.value->real_uid;
      auto known = users.find(uid);
      if (known == users.end()) {
        known = users.emplace(uid, user_name(uid)).first;
      }
      user = known->second;
    }
    const auto command = commands.find(pid);
    const std::string unit = service_of_cgroup(read_cgroup(pid).value.value_or(""));
    std::vector<std::string> warnings = warnings_for(status);
    if (!unit.empty()) {
      warnings.push_back("it belongs to the systemd service " + unit +
                         ", whose manager may start it again: stopping the unit is the way to end "
                         "it");
    }
    processes.push_back({pid, std::move(user),
                         command != commands.end() ? command->second : std::string("?"),
                         std::move(warnings), unit});
  }
  return processes;
}

check_outcome check(const loaded_plugin& plugin, session_t& session, const options& options) {
  const std::string directory = directory_of(normal_path(options.root));
  scan_for(installation_at(directory), options.files_in_use);
  session.values["CORVANE_PATH"] = options.root;
  const std::string before = value_of(session, "SHORT_DESC");
  plugin.check_running_corvane(&session);
  record_identities(session, last_scan().ours);
  const installation_scan& scan = last_scan();
  check_outcome outcome;
  outcome.root = directory;
  outcome.processes = recorded_processes(session, scan.ours);
  outcome.prerequisite_raised = value_of(session, "SHORT_DESC") != before;
  outcome.spared = scan.spared;
  outcome.uninspected = scan.uninspected;
  if (options.files_in_use) {
    outcome.using_files = scan.using_files;
  }
  return outcome;
}

exit_status status_of(const std::optional<check_outcome>& checked,
                      const std::optional<kill_outcome>& killed) {
  const bool partial = checked && checked->uninspected_count() > 0;
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
  return killed->sent == 0 && partial ? exit_incomplete : exit_clear;
}

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The plug-in logs to --log, if given, for as long as this lives.
class log_redirect {
 public:
  explicit log_redirect(const std::optional<std::string>& file) {
    if (file) {
      log_.reset(std::fopen(file->c_str(), "a"));
      if (!log_) {
        throw std::runtime_error("cannot open the log " + *file);
      }
      set_log_stream(log_.get());
    }
  }
  log_redirect(const log_redirect&) = delete;
  log_redirect& operator=(const log_redirect&) = delete;
  ~log_redirect() { set_log_stream(stderr); }

 private:
  std::unique_ptr<std::FILE, file_closer> log_;
};

exit_status execute(const options& options) {
  const bool checks = options.command != command::kill;
  const bool kills = options.command != command::check;
  ensure_own_proc();
  if (checks) {
    validate_root(options.root);
  }
  if (options.command == command::kill && !options.session_file) {
    throw usage_error("kill needs --session FILE: it ends what a check recorded there");
  }

  const log_redirect log(options.log_file);
  const std::string plugin_file = options.plugin.empty() ? default_plugin() : options.plugin;
  const loaded_plugin plugin(plugin_file);

  std::optional<session_file> file;
  session_t session;
  if (options.session_file) {
    file.emplace(*options.session_file, milliseconds_of(options.lock_timeout_seconds),
                 options.command == command::kill);
    session = file->load();
    if (options.command == command::kill && session.values.count("RUNNING_PROC_LIST") == 0) {
      throw session_error("the session " + file->path() +
                          " holds no check's records: run check with it first");
    }
  }
  std::optional<check_outcome> checked;
  std::optional<kill_outcome> killed;
  if (checks) {
    checked = check(plugin, session, options);
  }
  if (kills) {
    ending how;
    if (options.wait_seconds) {
      how.wait = milliseconds_of(*options.wait_seconds);
    }
    how.force = options.force;
    killed = end_recorded(plugin, session, how);
  }
  const auto report = [&] {
    std::cout << (options.json ? render_json(plugin_file, checked, killed)
                               : render_text(checked, killed));
  };
  if (file) {
    try {
      file->save(session);
    } catch (const std::exception& error) {
      if (!killed || killed->sent == 0) {
        throw;
      }
      // The signals went out: say what became of the processes, then why the session was not saved.
      report();
      std::cout.flush();
      std::cerr << "corvane-host: " << error.what() << "\n";
      return exit_signalled_unsaved;
    }
  }
  report();
  return status_of(checked, killed);
}

}  // namespace

exit_status run_command(const options& options) {
  try {
    return execute(options);
  } catch (const usage_error& error) {
    std::cerr << "corvane-host: " << error.what() << "\n";
    return exit_usage;
  } catch (const std::exception& error) {
    std::cerr << "corvane-host: " << error.what() << "\n";
    return exit_error;
  }
}

}  // namespace corvane_host
