// SPDX-License-Identifier: MIT
// Drives the built corvane-host against real processes in a throwaway tree.
#ifndef CORVANE_TESTS_HOST_HARNESS_H
#define CORVANE_TESTS_HOST_HARNESS_H

#include <sys/resource.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace harness {

struct host_run {
  int status = -1;  // exit status
  std::string out;
  std::string err;
  [[nodiscard]] nlohmann::json json() const { return nlohmann::json::parse(out); }
};

// How corvane-host is started.
struct host_options {
  std::optional<uid_t> user;                   // as this user
  std::string program;                         // this host, not the built one
  std::vector<std::pair<int, rlim_t>> limits;  // setrlimit(), soft and hard
};

// Runs corvane-host with `args` and waits for it.
host_run run_host(const std::vector<std::string>& args, const host_options& how = {});

// Starts corvane-host with `args`, its output going to the files `out` and
// `err`; exit_status_of() waits for it.
pid_t start_host(const std::vector<std::string>& args, const std::string& out,
                 const std::string& err, const host_options& how = {});

// A copy of the built host and plug-in in the build tree's layout under
// `directory`, which any user may run; returns the host's path.
std::string copy_built_host(const std::string& directory);
int exit_status_of(pid_t pid);

// A temporary directory, removed with everything in it.
class temp_tree {
 public:
  temp_tree();
  temp_tree(const temp_tree&) = delete;
  temp_tree& operator=(const temp_tree&) = delete;
  ~temp_tree();

  [[nodiscard]] const std::string& path() const { return path_; }
  // A copy of an idle program (sleep) at `relative`, directories made.
  [[nodiscard]] std::string add_program(const std::string& relative) const;

 private:
  std::string path_;
};

// What to run as a child: the file argv[0] with its arguments.
struct launch {
  std::vector<std::string> argv;
  std::string ready_argv0;               // its argv[0] once it runs, when it execs again
  std::vector<std::string> environment;  // NAME=VALUE, added
  std::string directory;                 // its working directory, when not this one
  bool ignore_sigterm = false;
  std::optional<uid_t> user;  // as this user
};

// A running program in a process group of its own, ended with the whole
// group and reaped when this goes.
class child {
 public:
  explicit child(const launch& what);
  explicit child(const std::string& program, bool ignore_sigterm = false)
      : child(launch{{program, "1000"}, "", {}, "", ignore_sigterm, std::nullopt}) {}
  child(const child&) = delete;
  child& operator=(const child&) = delete;
  ~child();

  [[nodiscard]] pid_t pid() const { return pid_; }
  // Reaped elsewhere: nothing is left to end.
  void forget() { reaped_ = true; }
  // Waits up to two seconds; true when SIGTERM ended it.
  bool ended_by_sigterm();
  // True while it runs (not even a zombie).
  [[nodiscard]] bool running() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// The "pid" of each element of a JSON array of processes, in order.
std::vector<int> pids_of(const nlohmann::json& processes);

std::string read_file(const std::string& file);
void write_file(const std::string& file, const std::string& text);

}  // namespace harness

#endif
