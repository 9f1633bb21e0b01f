// SPDX-License-Identifier: MIT
#include "host_harness.h"

#include <fcntl.h>
#include <spawn.h>
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

void write_file(const std::string& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

host_run run_host(const std::vector<std::string>& args) {
  const temp_tree outputs;
  const std::string out = outputs.path() + "/out";
  const std::string err = outputs.path() + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<std::string> words = {CORVANE_HOST_FILE};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::runtime_error("cannot start corvane-host");
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), read_file(out),
          read_file(err)};
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

child::child(const std::string& program, bool ignore_sigterm) {
  pid_ = fork();
  if (pid_ == 0) {
    if (ignore_sigterm) {
      signal(SIGTERM, SIG_IGN);
    }
    execl(program.c_str(), program.c_str(), "1000", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Running the program once /proc shows it, not the test's copy before exec.
  const std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
  for (int i = 0; i < 200; ++i) {
    std::error_code error;
    if (fs::read_symlink(exe, error).string().rfind(program, 0) == 0) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  throw std::runtime_error("the program did not start: " + program);
}

child::~child() {
  if (reaped_) {
    return;
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool child::ended_by_sigterm() {
  int status = 0;
  for (int i = 0; i < 400; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
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
