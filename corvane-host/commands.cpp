// SPDX-License-Identifier: MIT
#include "commands.h"

#include <unistd.h>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

#include "default_plugin.h"
#include "paths.h"
#include "pid_guard.h"
#include "plugin_loader.h"
#include "proc_table.h"
#include "report.h"
#include "services.h"
#include "session.h"
#include "session_file.h"
#include "waiter.h"

namespace corvane_host {
namespace {

struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

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
  if (directory_of(normal_path(root)) == "/") {
    throw usage_error("--root " + root + " would select every process on this machine");
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
  const bool may_signal = geteuid() == 0 || status->real_uid == getuid() ||
                          status->real_uid == geteuid() || status->saved_uid == getuid() ||
                          status->saved_uid == geteuid();
  if (!may_signal) {
    warnings.emplace_back("it belongs to " + user_name(status->real_uid) +
                          ": this user may not signal it");
  }
  return warnings;
}

// The names list is a line feed, then one command and a line feed per ID.
std::vector<std::string> recorded_names(const session_t& session) {
  std::vector<std::string> names;
  const std::string list = value_of(session, "corvane_killer_RUNNING_PROC_NAMES");
  for (std::size_t start = 1; start < list.size();) {
    const std::size_t end = list.find('\n', start);
    names.push_back(list.substr(start, end - start));
    start = end == std::string::npos ? list.size() : end + 1;
  }
  return names;
}

std::vector<process_view> recorded_processes(const session_t& session) {
  const std::vector<pid_t> ids = recorded_ids(session);
  const std::vector<std::string> names = recorded_names(session);
  std::map<uid_t, std::string> users;
  std::vector<process_view> processes;
  processes.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const proc_result<process_status> status = read_status(ids[i]);
    std::string user = "?";
    if (status.value) {
      const uid_t uid = status.value->real_uid;
      auto known = users.find(uid);
      if (known == users.end()) {
        known = users.emplace(uid, user_name(uid)).first;
      }
      user = known->second;
    }
    processes.push_back({ids[i], std::move(user), names.size() == ids.size() ? names[i] : "?",
                         warnings_for(status)});
  }
  return processes;
}

check_outcome check(const loaded_plugin& plugin, session_t& session, const std::string& root) {
  session.values["CORVANE_PATH"] = root;
  const std::string before = value_of(session, "SHORT_DESC");
  plugin.check_running_corvane(&session);
  record_start_times(session);
  return {root, recorded_processes(session), value_of(session, "SHORT_DESC") != before};
}

kill_outcome kill(const loaded_plugin& plugin, session_t& session,
                  std::optional<double> wait_seconds) {
  const guard_result guard = guard_recorded(session);
  kill_outcome outcome;
  outcome.skipped = guard.skipped;
  for (const tracked_process& process : guard.to_signal) {
    outcome.signalled.push_back(process.pid);
  }
  outcome.result = plugin.kill_corvane(&session);
  if (wait_seconds) {
    outcome.survivors = wait_for_exit(guard.to_signal, milliseconds_of(*wait_seconds));
  }
  return outcome;
}

exit_status status_of(const std::optional<check_outcome>& checked,
                      const std::optional<kill_outcome>& killed) {
  if (!killed) {
    return checked->processes.empty() ? exit_clear : exit_detected;
  }
  if (killed->signalled.empty()) {
    return exit_clear;
  }
  if (killed->survivors) {
    return killed->survivors->empty() ? exit_clear : exit_not_all_ended;
  }
  return killed->result == 0 ? exit_clear : exit_not_all_ended;
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
    checked = check(plugin, session, options.root);
  }
  if (kills) {
    killed = kill(plugin, session, options.wait_seconds);
  }
  if (file) {
    file->save(session);
  }

  std::cout << (options.json ? render_json(plugin_file, checked, killed)
                             : render_text(checked, killed));
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
