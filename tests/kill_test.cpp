// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "fake_host.h"
#include "plugin.h"

namespace {

using lines = std::vector<std::string>;

class kill_test : public testing::Test {
 protected:
  void SetUp() override { fake::host() = {}; }

  static int kill_recorded(const std::string& value) {
    fake::host().session.values["RUNNING_PROC_LIST"] = value;
    return plugin().kill_corvane(&fake::host().session);
  }
};

struct result_case {
  const char* name;
  std::string value;
  std::deque<int> kill_results;  // scripted, one per kill() that must happen
  lines after_value;             // log lines after the first two
  int result;
};

void PrintTo(const result_case& c, std::ostream* out) { *out << c.name; }

class kill_result_test : public kill_test, public testing::WithParamInterface<result_case> {};

TEST_P(kill_result_test, logs_every_element_and_returns_the_last_outcome) {
  const result_case& c = GetParam();
  fake::host().kill_results = c.kill_results;
  EXPECT_EQ(kill_recorded(c.value), c.result);

  lines expected = {"corvane_killer: kill-corvane entered",
                    "corvane_killer: running processes IDs: " + c.value};
  expected.insert(expected.end(), c.after_value.begin(), c.after_value.end());
  EXPECT_EQ(fake::log_lines(), expected);
  EXPECT_TRUE(fake::host().kill_results.empty()) << "fewer kill() calls than scripted";
  for (const std::string& call : fake::calls_of("kill")) {
    EXPECT_GT(std::stoi(call), 0) << "kill() reached a process group: " << call;
    EXPECT_EQ(call.substr(call.find(' ') + 1), std::to_string(SIGTERM));
  }
  EXPECT_EQ(fake::host().session.values["RUNNING_PROC_LIST"], c.value);
}

const char* const pid_line = "corvane_killer: process ID: ";
const char* const succeeded = "corvane_killer: termination succeeded";
const char* const failed = "corvane_killer: termination failed: -1";
const char* const refused_line = "corvane_killer: termination refused, not a single process: ";

INSTANTIATE_TEST_SUITE_P(
    cases, kill_result_test,
    testing::Values(
        result_case{"empty_value_signals_nothing", "", {}, {}, -1},
        result_case{"one_success", "10", {0}, {pid_line + std::string("10"), succeeded}, 0},
        result_case{"one_failure", "10", {-1}, {pid_line + std::string("10"), failed}, -1},
        result_case{"fail_then_succeed",
                    "10;11",
                    {-1, 0},
                    {pid_line + std::string("10"), failed, pid_line + std::string("11"), succeeded},
                    0},
        result_case{"succeed_then_fail",
                    "10;11",
                    {0, -1},
                    {pid_line + std::string("10"), succeeded, pid_line + std::string("11"), failed},
                    -1},
        result_case{"minus_one_only", "-1", {}, {pid_line + std::string("-1")}, -1},
        result_case{"success_then_minus_one",
                    "10;-1",
                    {0},
                    {pid_line + std::string("10"), succeeded, pid_line + std::string("-1")},
                    0},
        result_case{
            "duplicate_signalled_twice",
            "10;10",
            {0, 0},
            {pid_line + std::string("10"), succeeded, pid_line + std::string("10"), succeeded},
            0},
        result_case{"group_ids_refused",
                    "0;-5",
                    {},
                    {pid_line + std::string("0"), std::string(refused_line) + "0",
                     pid_line + std::string("-5"), std::string(refused_line) + "-5"},
                    -1},
        result_case{"success_then_refused",
                    "10;0",
                    {0},
                    {pid_line + std::string("10"), succeeded, pid_line + std::string("0"),
                     std::string(refused_line) + "0"},
                    -1},
        result_case{"refused_then_success",
                    "-7;10",
                    {0},
                    {pid_line + std::string("-7"), std::string(refused_line) + "-7",
                     pid_line + std::string("10"), succeeded},
                    0},
        result_case{"malformed_tokens_skipped",
                    ";x;2147483648;10",
                    {0},
                    {pid_line + std::string("-1"), pid_line + std::string("-1"),
                     pid_line + std::string("-1"), pid_line + std::string("10"), succeeded},
                    0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(kill_test, reads_the_list_without_asking_whether_it_exists) {
  EXPECT_EQ(plugin().kill_corvane(&fake::host().session), -1);
  EXPECT_EQ(fake::host().calls,
            (lines{"log corvane_killer: kill-corvane entered", "env_get_string RUNNING_PROC_LIST",
                   "log corvane_killer: running processes IDs: "}));
}

TEST_F(kill_test, host_exception_reaches_the_host_after_signals_already_sent) {
  fake::host().kill_results = {0, 0};
  fake::host().throw_at_call = 5;  // the success line of the first ID
  EXPECT_THROW(kill_recorded("10;11"), fake::host_failure);
  EXPECT_EQ(fake::calls_of("kill"), lines{"10 15"});
}

// A child that reports each SIGTERM it receives through a pipe.
class sigterm_recorder {
 public:
  sigterm_recorder() {
    int fds[2];
    if (pipe(fds) != 0) {
      throw std::runtime_error("pipe");
    }
    read_end_ = fds[0];
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      report_fd = fds[1];
      signal(SIGTERM, [](int) { report('T'); });
      report('R');
      for (;;) {
        pause();
      }
    }
    close(fds[1]);
    expect_report('R');
  }
  sigterm_recorder(const sigterm_recorder&) = delete;
  sigterm_recorder& operator=(const sigterm_recorder&) = delete;
  ~sigterm_recorder() {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    close(read_end_);
  }

  [[nodiscard]] pid_t pid() const { return pid_; }
  void expect_report(char expected) const {
    char got = 0;
    ASSERT_EQ(read(read_end_, &got, 1), 1);
    EXPECT_EQ(got, expected);
  }

 private:
  static void report(char what) {
    if (write(report_fd, &what, 1) != 1) {
      _exit(1);
    }
  }

  static inline int report_fd = -1;
  int read_end_ = -1;
  pid_t pid_ = -1;
};

TEST_F(kill_test, real_child_receives_sigterm) {
  const sigterm_recorder child;
  EXPECT_EQ(kill_recorded(std::to_string(child.pid())), 0);
  child.expect_report('T');
  EXPECT_EQ(fake::log_lines().back(), succeeded);
  EXPECT_EQ(terminate_process(child.pid()), 0);
  child.expect_report('T');
}

TEST_F(kill_test, reaped_child_fails_with_minus_one) {
  const pid_t gone = fork();
  if (gone == 0) {
    _exit(0);
  }
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  EXPECT_EQ(kill_recorded(std::to_string(gone)), -1);
  EXPECT_EQ(fake::log_lines().back(), failed);
  EXPECT_EQ(terminate_process(gone), -1);
}

}  // namespace
