// SPDX-License-Identifier: MIT
// corvane-host end to end: the built host, the built plug-in, real processes,
// the real /proc and real signals.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "host_harness.h"
#include "pid_guard.h"
#include "session_file.h"

namespace {

using harness::child;
using harness::pids_of;
using harness::run_host;
using harness::temp_tree;
namespace fs = std::filesystem;

TEST(host, detects_under_mixed_case_root_and_leaves_installers_and_siblings_alone) {
  const temp_tree tree;
  const child corvane(tree.add_program("CorVane/bin/Corvane"));
  const child gui(tree.add_program("CorVane/install_gui"));
  const child installer(tree.add_program("CorVane/tools/install.sh"));
  const child exe(tree.add_program("CorVane/setupInstall.exe"));
  const child sibling(tree.add_program("CorVane-old/bin/corvane"));

  const auto run = run_host({"--json", "check", "--root", tree.path() + "/CorVane"});
  ASSERT_EQ(run.status, 3) << run.err;
  const auto check = run.json()["check"];
  EXPECT_EQ(pids_of(check["processes"]), std::vector<int>{corvane.pid()});
  EXPECT_EQ(check["processes"][0]["command"], tree.path() + "/CorVane/bin/Corvane");
  EXPECT_TRUE(check["prerequisite_raised"].get<bool>());
  EXPECT_NE(run.err.find("corvane_killer: process ID: " + std::to_string(corvane.pid())),
            std::string::npos);
}

TEST(host, sees_programs_whose_file_an_upgrade_replaced_by_their_path) {
  const temp_tree tree;
  const std::string program = tree.add_program("corvane/bin/corvane");
  const std::string installer = tree.add_program("corvane/install_gui");
  const child running(program);
  const child installing(installer);
  for (const std::string& file : {program, installer}) {
    fs::remove(file);
    (void)tree.add_program(fs::relative(file, tree.path()).string());
  }
  const auto run = run_host({"--json", "check", "--root", tree.path() + "/corvane"});
  ASSERT_EQ(run.status, 3) << run.err;
  const auto processes = run.json()["check"]["processes"];
  EXPECT_EQ(pids_of(processes), std::vector<int>{running.pid()});
  EXPECT_EQ(processes[0]["command"], program);
}

TEST(host, check_and_kill_with_wait_as_separate_invocations_on_one_session) {
  const temp_tree tree;
  child first(tree.add_program("corvane/bin/a"));
  child second(tree.add_program("corvane/bin/b"));
  const std::string session = tree.path() + "/session";
  EXPECT_EQ(run_host({"--session", session, "check", "--root", tree.path() + "/corvane"}).status,
            3);
  EXPECT_TRUE(first.running());

  const auto kill = run_host({"--session", session, "--json", "kill", "--wait", "5"});
  EXPECT_EQ(kill.status, 0) << kill.err;
  EXPECT_EQ(kill.json()["kill"]["result"], 0);
  const nlohmann::json report = kill.json();
  for (const auto& process : report["kill"]["processes"]) {
    EXPECT_EQ(process["outcome"], "ended on SIGTERM");
  }
  EXPECT_TRUE(first.ended_by_sigterm());
  EXPECT_TRUE(second.ended_by_sigterm());
  EXPECT_NE(kill.err.find("corvane_killer: termination succeeded"), std::string::npos);
}

TEST(host, concurrent_checks_on_one_session_lose_no_update) {
  const temp_tree tree;
  const child corvane(tree.add_program("corvane/bin/corvane"));
  const std::string session = tree.path() + "/session";
  constexpr int runs = 8;
  std::vector<pid_t> hosts;
  for (int i = 0; i < runs; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      _exit(run_host({"--session", session, "--log", "/dev/null", "check", "--root",
                      tree.path() + "/corvane"})
                .status);
    }
    hosts.push_back(pid);
  }
  for (const pid_t pid : hosts) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 3);
  }
  const corvane_host::session_file file(session, std::chrono::seconds(5));
  const std::string desc = file.load().values.at("SHORT_DESC");
  EXPECT_EQ(std::count(desc.begin(), desc.end(), ';'), runs);
}

std::string bytes_of_hex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

TEST(host, json_keeps_a_latin1_path_byte_for_byte) {
  const temp_tree tree;
  const std::string root = tree.path() + "/caf\xe9";
  const child corvane(tree.add_program("caf\xe9/bin/corvane"));
  const auto run = run_host({"--json", "check", "--root", root});
  ASSERT_EQ(run.status, 3) << run.err;
  const auto check = run.json()["check"];
  EXPECT_EQ(run.json()["schema_version"], 1);
  EXPECT_EQ(bytes_of_hex(check["root_hex"]), root + "/");
  EXPECT_EQ(bytes_of_hex(check["processes"][0]["command_hex"]), root + "/bin/corvane");
  EXPECT_FALSE(run.json().contains("plugin_hex"));
}

struct bad_input {
  const char* name;
  std::vector<std::string> args;  // "ROOT" and "SESSION" are replaced
  const char* message;
};

void PrintTo(const bad_input& c, std::ostream* out) { *out << c.name; }

class host_bad_input : public testing::TestWithParam<bad_input> {};

TEST_P(host_bad_input, one_clear_message_and_the_session_unchanged) {
  const temp_tree tree;
  const child corvane(tree.add_program("corvane/bin/corvane"));
  const std::string session = tree.path() + "/session";
  harness::write_file(
      session, "corvane-host session 1\nRUNNING_PROC_LIST=" + std::to_string(corvane.pid()) + "\n");
  const std::string before = harness::read_file(session);
  std::vector<std::string> args = {"--session", session};
  for (std::string arg : GetParam().args) {
    if (arg == "ROOT") {
      arg = tree.path() + "/corvane";
    }
    args.push_back(arg);
  }
  const auto run = run_host(args);
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("corvane_killer:"), std::string::npos) << "the plug-in ran";
  EXPECT_EQ(harness::read_file(session), before);
  EXPECT_TRUE(corvane.running());
}

INSTANTIATE_TEST_SUITE_P(
    cases, host_bad_input,
    testing::Values(
        bad_input{"missing_plugin", {"--plugin", "/nonexistent.so", "kill"}, "cannot load"},
        bad_input{"plugin_without_entry_points",
                  {"--plugin", "libm.so.6", "kill"},
                  "no entry point check_running_corvane"},
        bad_input{"root_missing", {"check", "--root", "/nonexistent/corvane"}, "no such file"},
        bad_input{"root_empty", {"check", "--root", ""}, "--root is empty"},
        bad_input{"root_huge", {"check", "--root", std::string(5000, 'a')}, "bytes long"},
        bad_input{"root_with_line_feed", {"check", "--root", "ROOT\nx"}, "control character"},
        bad_input{"root_selects_everything", {"run", "--root", "/"}, "every process"},
        bad_input{"root_is_a_system_directory", {"run", "--root", "/usr"}, "system directory"},
        bad_input{"root_is_a_file_in_a_system_directory",
                  {"check", "--root", "/bin/sh"},
                  "system directory"},
        bad_input{"unknown_option", {"check", "--root", "ROOT", "--frobnicate"}, "frobnicate"},
        bad_input{"wait_nan", {"run", "--root", "ROOT", "--wait", "nan"}, "NaN is not"},
        bad_input{"lock_timeout_hexadecimal", {"--lock-timeout", "0x10", "kill"}, "hexadecimal"},
        bad_input{"no_command", {}, "subcommand"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(host, malformed_session_file_is_reported_and_left_as_it_is) {
  const temp_tree tree;
  const std::string session = tree.path() + "/session";
  harness::write_file(session, "corvane-host session 1\nno equals sign\n");
  const auto run = run_host({"--session", session, "kill"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("malformed: line 2"), std::string::npos) << run.err;
  EXPECT_EQ(harness::read_file(session), "corvane-host session 1\nno equals sign\n");
}

}  // namespace
