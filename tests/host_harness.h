// SPDX-License-Identifier: MIT
// Drives the built corvane-host against real processes in a throwaway tree.
#ifndef CORVANE_TESTS_HOST_HARNESS_H
#define CORVANE_TESTS_HOST_HARNESS_H

#include <sys/types.h>

#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace harness {

// The files this build made. Their paths are defined in built_files.cpp alone, so that every
// other test source compiles the same in any checkout, and a second clone hits the cache.
extern const char* const host_file;
extern const char* const plugin_file;
extern const char* const sigterm_modes_file;
extern const char* const stalled_fuse_file;
extern const char* const reuse_plugin_file;

struct host_run {
  int status = -1;  // exit status
  std::string out;
  std::string err;
  [[nodiscard]] nlohmann::json json() const { return nlohmann::json::parse(out); }
  // The IDs of the processes the check found, in order.
  [[nodiscard]] std::vector<int> pids() const;
  // Each killed process's outcome, by ID (entries that name no ID left out).
  [[nodiscard]] std::map<int, std::string> outcomes() const;
};

// Runs `argv` (argv[0] a file) and waits for it, its output captured.
host_run run(const std::vector<std::string>& argv);
host_run run_host(const std::vector<std::string>& args);  // the built corvane-host
// Starts `argv`, its output going to the files `out` and `err`.
pid_t start(const std::vector<std::string>& argv, const std::string& out, const std::string& err);
int exit_status_of(pid_t pid);
// The first child of `parent`, once it runs a program whose file is named `program` ("": any).
pid_t child_of(pid_t parent, const std::string& program = "");
// Waits until process `pid` holds open a file named `name`.
void wait_for_open(pid_t pid, const std::string& name);
// Asks `holds` every 5 ms, at most `tries` times; whether it came to hold.
bool eventually(const std::function<bool()>& holds, int tries = 2000);
// Whether /proc/PID/`file` came to hold `text`, asked as eventually() asks.
bool eventually_holds(pid_t pid, const std::string& file, const std::string& text);
// `argv` as `user` of `group`, with no supplementary groups.
std::vector<std::string> as_user(const std::string& user, const std::string& group,
                                 std::vector<std::string> argv);

// Why this machine cannot run a test that needs it, or "": real signals and
// counts of every process need a private pid namespace (in_pid_namespace.sh),
// acting as another user needs root, and a test may need a program.
std::string no_private_pid_namespace();
std::string not_root();
std::string missing(const std::string& program);
// Skips the calling test, saying why, where `why` is not "".
#define SKIP_WHERE(why) \
  if (const std::string reason_ = (why); !reason_.empty()) GTEST_SKIP() << reason_

// A temporary directory, removed with everything in it.
class temp_tree {
 public:
  temp_tree();
  temp_tree(const temp_tree&) = delete;
  temp_tree& operator=(const temp_tree&) = delete;
  ~temp_tree();

  [[nodiscard]] const std::string& path() const { return path_; }
  // A copy of a program (by default sleep) at `relative`, directories made.
  [[nodiscard]] std::string add_program(const std::string& relative,
                                        const std::string& source = "/bin/sleep") const;
  // The built host and plug-in, copied in the build tree's layout; returns the host.
  [[nodiscard]] std::string add_built_host(const std::string& relative) const;
  // A directory, or a file holding `text`, at `relative`, directories made; its path.
  [[nodiscard]] std::string add_directory(const std::string& relative) const;
  [[nodiscard]] std::string add_file(const std::string& relative, const std::string& text) const;
  // A shell script's text that waits without forking, on a fifo of the tree: a forked
  // copy of the shell would run the same script too.
  [[nodiscard]] std::string waiting_script() const;

 private:
  std::string path_;
};

enum class sigterm_is { handled_by_default, ignored, blocked };

// A running program in a process group of its own, ended with the whole
// group and reaped when this goes.
class child {
 public:
  // Runs the file argv[0] (in the directory open as `directory`, if given), and waits until
  // its argv[0] is `ready_argv0` (by default argv[0]).
  explicit child(std::vector<std::string> argv, const std::string& ready_argv0 = "",
                 sigterm_is sigterm = sigterm_is::handled_by_default, int directory = -1);
  // An idle program: `program 1000`.
  explicit child(const std::string& program, sigterm_is sigterm = sigterm_is::handled_by_default)
      : child({program, "1000"}, "", sigterm) {}
  child(const child&) = delete;
  child& operator=(const child&) = delete;
  ~child();

  [[nodiscard]] pid_t pid() const { return pid_; }
  // Waits up to two seconds; true when SIGTERM ended it.
  bool ended_by_sigterm();
  // True while it runs (not even a zombie).
  [[nodiscard]] bool running() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Their IDs, in ascending order.
std::vector<int> pids_of(const std::list<child>& children);

// `text` split at each `separator`, each field trimmed of blanks.
std::vector<std::string> split(const std::string& text, char separator);

std::string read_file(const std::string& file);
void write_file(const std::string& file, const std::string& text);

}  // namespace harness

#endif
