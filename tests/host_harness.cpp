// SPDX-License-Identifier: MIT
#include "host_harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace harness {

std::string read_file(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(text);
  for (std::string field; std::getline(in, field, separator);) {
    field.erase(0, field.find_first_not_of(' '));
    fields.push_back(field.erase(field.find_last_not_of(' ') + 1));
  }
  return fields;
}

std::vector<int> host_run::pids() const {
  std::vector<int> found;
  const nlohmann::json document = json();
  for (const auto& process : document["check"]["processes"]) {
    found.push_back(process["pid"].get<int>());
  }
  return found;
}

std::map<int, std::string> host_run::outcomes() const {
  std::map<int, std::string> by_pid;
  const nlohmann::json document = json();
  for (const auto& process : document["kill"]["processes"]) {
    if (!process["pid"].is_null()) {
      by_pid[process["pid"].get<int>()] = process["outcome"];
    }
  }
  return by_pid;
}

namespace {

// In a forked child: run `words`, or _exit(127).
[[noreturn]] void exec(std::vector<std::string> words) {
  std::vector<char*> argv(words.size() + 1);  // ends with nullptr
  std::transform(words.begin(), words.end(), argv.begin(),
                 [](std::string& word) { return word.data(); });
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace

pid_t start(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out_fd < 0 || err_fd < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) {
      _exit(126);
    }
    signal(SIGXFSZ, SIG_IGN);  // past a file size limit a write fails instead
    exec(argv);
  }
  if (pid < 0) {
    throw std::runtime_error("cannot start " + argv.front());
  }
  return pid;
}

int exit_status_of(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool eventually(const std::function<bool()>& holds, int tries) {
  for (int i = 0; i < tries; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    if (holds()) {
      return true;
    }
  }
  return false;
}

bool eventually_holds(pid_t pid, const std::string& file, const std::string& text) {
  const std::string path = "/proc/" + std::to_string(pid) + "/" + file;
  return eventually([&] { return read_file(path).find(text) != std::string::npos; });
}

pid_t child_of(pid_t parent, const std::string& program) {
  const std::string children =
      "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
  std::string pid;
  if (!eventually([&] {
        std::error_code error;
        return std::istringstream(read_file(children)) >> pid &&
               (program.empty() ||
                fs::read_symlink("/proc/" + pid + "/exe", error).filename() == program);
      })) {
    throw std::runtime_error("no child " + program);
  }
  return std::stoi(pid);
}

void wait_for_open(pid_t pid, const std::string& name) {
  if (!eventually([&] {
        std::error_code error;
        const fs::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", error);
        return std::any_of(begin(fds), end(fds), [&](const fs::directory_entry& fd) {
          return fs::read_symlink(fd.path(), error).filename() == name;
        });
      })) {
    throw std::runtime_error("nothing open named " + name);
  }
}

host_run run(const std::vector<std::string>& argv) {
  const temp_tree outputs;
  const int status = exit_status_of(start(argv, outputs.path() + "/out", outputs.path() + "/err"));
  return {status, read_file(outputs.path() + "/out"), read_file(outputs.path() + "/err")};
}

host_run run_host(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {host_file};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

std::vector<std::string> as_user(const std::string& user, const std::string& group,
                                 std::vector<std::string> argv) {
  argv.insert(argv.begin(),
              {"/usr/bin/setpriv", "--reuid=" + user, "--regid=" + group, "--clear-groups"});
  return argv;
}

std::string no_private_pid_namespace() {
  return getpid() == 1 ? ""
                       : "needs a private pid namespace (unshare): it sends real signals or counts "
                         "every process";
}

std::string not_root() { return geteuid() == 0 ? "" : "acts as another user: needs root"; }

std::string missing(const std::string& program) {
  return access(program.c_str(), X_OK) == 0 ? "" : "needs " + program;
}

temp_tree::temp_tree() : path_((fs::temp_directory_path() / "corvane-test.XXXXXX").string()) {
  if (mkdtemp(path_.data()) == nullptr) {
    throw std::runtime_error("mkdtemp");
  }
}

temp_tree::~temp_tree() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string temp_tree::add_program(const std::string& relative, const std::string& source) const {
  std::string program = add_file(relative, "");
  fs::copy_file(source, program, fs::copy_options::overwrite_existing);
  return program;
}

std::string temp_tree::add_directory(const std::string& relative) const {
  const fs::path directory = fs::path(path_) / relative;
  fs::create_directories(directory);
  return directory.string();
}

std::string temp_tree::add_file(const std::string& relative, const std::string& text) const {
  const fs::path file = fs::path(path_) / relative;
  fs::create_directories(file.parent_path());
  write_file(file.string(), text);
  return file.string();
}

std::string temp_tree::waiting_script() const {
  mkfifo((path_ + "/fifo").c_str(), 0600);  // once: later calls find it made
  return "read x <" + path_ + "/fifo\n";
}

std::string temp_tree::add_built_host(const std::string& relative) const {
  (void)add_program(relative + "/plugin/libcorvane-kill.so.1n", plugin_file);
  // The tree, like the directories made in it, may be entered by any user.
  fs::permissions(path_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  return add_program(relative + "/corvane-host/corvane-host", host_file);
}

child::child(std::vector<std::string> argv, const std::string& ready_argv0, sigterm_is sigterm,
             int directory) {
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);  // its own group, which the destructor ends whole
    if (directory >= 0 && fchdir(directory) != 0) {
      _exit(126);
    }
    signal(SIGTERM, sigterm == sigterm_is::ignored ? SIG_IGN : SIG_DFL);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(sigterm == sigterm_is::blocked ? SIG_BLOCK : SIG_UNBLOCK, &term, nullptr);
    exec(argv);
  }
  // Running once its command line is the program's, not the test's copy before exec.
  const std::string ready = ready_argv0.empty() ? argv.front() : ready_argv0;
  const std::string cmdline = "/proc/" + std::to_string(pid_) + "/cmdline";
  if (!eventually([&] { return read_file(cmdline).rfind(ready + '\0', 0) == 0; }, 400)) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("the program did not start: " + ready);
  }
}

child::~child() {
  if (!reaped_) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool child::ended_by_sigterm() {
  int status = 0;
  if (!eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 400)) {
    return false;
  }
  reaped_ = true;
  kill(-pid_, SIGKILL);  // what it started, kept from reuse by its group
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
}

bool child::running() const {
  const std::string stat = read_file("/proc/" + std::to_string(pid_) + "/stat");
  const auto close = stat.rfind(')');
  return close != std::string::npos && stat.size() > close + 2 && stat[close + 2] != 'Z';
}

std::vector<int> pids_of(const std::list<child>& children) {
  std::vector<int> pids(children.size());
  std::transform(children.begin(), children.end(), pids.begin(),
                 [](const child& one) { return one.pid(); });
  std::sort(pids.begin(), pids.end());
  return pids;
}

}  // namespace harness
