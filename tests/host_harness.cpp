// SPDX-License-Identifier: MIT
#include "host_harness.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace harness {

std::string read_file(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<int> pids_of(const nlohmann::json& processes) {
  std::vector<int> pids;
  for (const auto& process : processes) {
    pids.push_back(process["pid"].get<int>());
  }
  return pids;
}

void write_file(const std::string& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

namespace {

// In a forked child: become `user`, or _exit(126).
void become(uid_t user) {
  const passwd* entry = getpwuid(user);
  if (entry == nullptr || setgroups(0, nullptr) != 0 || setgid(entry->pw_gid) != 0 ||
      setuid(user) != 0) {
    _exit(126);
  }
}

}  // namespace

pid_t start_host(const std::vector<std::string>& args, const std::string& out,
                 const std::string& err, const host_options& how) {
  std::vector<std::string> words = {how.program.empty() ? CORVANE_HOST_FILE : how.program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out_fd < 0 || err_fd < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) {
      _exit(126);
    }
    for (const auto& [resource, value] : how.limits) {
      const rlimit limit{value, value};
      if (setrlimit(resource, &limit) != 0) {
        _exit(126);
      }
    }
    signal(SIGXFSZ, SIG_IGN);  // past RLIMIT_FSIZE a write fails instead
    if (how.user) {
      become(*how.user);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) {
    throw std::runtime_error("cannot start corvane-host");
  }
  return pid;
}

int exit_status_of(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

host_run run_host(const std::vector<std::string>& args, const host_options& how) {
  const temp_tree outputs;
  const std::string out = outputs.path() + "/out";
  const std::string err = outputs.path() + "/err";
  const int status = exit_status_of(start_host(args, out, err, how));
  return {status, read_file(out), read_file(err)};
}

std::string copy_built_host(const std::string& directory) {
  const fs::path host = fs::path(directory) / "corvane-host" / "corvane-host";
  const fs::path plugin = fs::path(directory) / "plugin" / "libcorvane-kill.so.1n";
  for (const auto& [from, to] :
       {std::pair{CORVANE_HOST_FILE, host}, {CORVANE_PLUGIN_FILE, plugin}}) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to);
    fs::permissions(to.parent_path(), fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
  }
  fs::permissions(directory, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
  return host.string();
}

temp_tree::temp_tree() {
  std::string pattern = (fs::temp_directory_path() / "corvane-test.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp");
  }
  path_ = pattern;
}

temp_tree::~temp_tree() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string temp_tree::add_program(const std::string& relative) const {
  const fs::path program = fs::path(path_) / relative;
  fs::create_directories(program.parent_path());
  fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing);
  return program.string();
}

child::child(const launch& what) {
  std::vector<std::string> words = what.argv;
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);  // its own group, which the destructor ends whole
    if (what.ignore_sigterm) {
      signal(SIGTERM, SIG_IGN);
    }
    if (what.user) {
      become(*what.user);
    }
    for (const std::string& variable : what.environment) {
      putenv(const_cast<char*>(variable.c_str()));
    }
    if (!what.directory.empty() && chdir(what.directory.c_str()) != 0) {
      _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  // Running once its command line is the program's, not the test's copy before exec.
  const std::string ready = what.ready_argv0.empty() ? what.argv.front() : what.ready_argv0;
  const std::string cmdline = "/proc/" + std::to_string(pid_) + "/cmdline";
  for (int i = 0; i < 400; ++i) {
    const std::string text = read_file(cmdline);
    if (text.compare(0, ready.size() + 1, ready + '\0') == 0) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  throw std::runtime_error("the program did not start: " + ready);
}

child::~child() {
  if (!reaped_) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool child::ended_by_sigterm() {
  int status = 0;
  for (int i = 0; i < 400; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      kill(-pid_, SIGKILL);  // what it started, kept from reuse by its group
      return WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

bool child::running() const {
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  return close != std::string::npos && text.size() > close + 2 && text[close + 2] != 'Z';
}

}  // namespace harness
