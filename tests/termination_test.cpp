// SPDX-License-Identifier: MIT
// Ending what a check recorded, with real processes and real signals: every
// process signalled or the failure said, a verified signal, an outcome per
// process, waiting, escalation and programs that come back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <list>
#include <thread>

#include "host_harness.h"
#include "pid_guard.h"
#include "session.h"

namespace {

using harness::child;
using harness::run_host;
using harness::sigterm_is;
using harness::temp_tree;
using outcomes = std::map<int, std::string>;
namespace fs = std::filesystem;

// With few descriptors, and a session file that cannot grow: every process
// ends, and the report of what was signalled comes before the failed save.
TEST(termination, hundreds_end_under_small_limits_and_a_failed_save_comes_last) {
  const temp_tree tree;
  const std::string program = tree.add_program("corvane/bin/corvane");
  std::list<child> children;
  outcomes expected;
  for (int i = 0; i < 300; ++i) {
    expected[children.emplace_back(program).pid()] = "ended on SIGTERM";
  }
  session_t big;
  big.values["BIG"] = std::string(200000, 'x');
  const std::string session = tree.path() + "/session";
  harness::write_file(session, corvane_host::encode_session(big));
  const auto run = harness::run({"/usr/bin/prlimit", "--nofile=64", "--fsize=100000",
                                 CORVANE_HOST_FILE, "--session", session, "--json", "run", "--root",
                                 tree.path() + "/corvane", "--wait", "20"});
  EXPECT_EQ(run.status, 6) << run.err.substr(0, 2000);
  EXPECT_EQ(run.outcomes(), expected);
  EXPECT_EQ(run.json()["kill"]["sent"], 300);
  EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err.substr(0, 2000);
  EXPECT_EQ(harness::read_file(session), corvane_host::encode_session(big));
  EXPECT_EQ(std::distance(fs::directory_iterator(tree.path()), fs::directory_iterator()), 3)
      << "beside corvane/, the session and its lock, a temporary file was left";
  for (child& one : children) {
    EXPECT_TRUE(one.ended_by_sigterm()) << one.pid();
  }
}

TEST(termination, warnings_name_what_sigterm_will_not_end_force_ends_it_and_comebacks_count) {
  const temp_tree tree;
  child plain(tree.add_program("corvane/bin/plain"));
  child ignoring(tree.add_program("corvane/bin/ignoring"), sigterm_is::ignored);
  child blocking(tree.add_program("corvane/bin/blocking"), sigterm_is::blocked);
  child stopped(tree.add_program("corvane/bin/stopped\nname"));
  kill(stopped.pid(), SIGSTOP);
  // A service manager that restarts its program after a pause, and a script that, once its
  // program has ended, runs another one: only the first comes back.
  const std::string served = tree.add_program("corvane/bin/served");
  const child supervisor({"/bin/sh", "-c", R"(while :; do "$0" 1000; sleep 0.2; done)", served});
  const child chain({"/bin/sh", "-c", R"("$0" 1000; exec "$1" 1000)",
                     tree.add_program("corvane/bin/first"), tree.add_program("corvane/bin/next")});
  const auto child_of = [](const child& parent) {
    const std::string children = "/proc/" + std::to_string(parent.pid()) + "/task/" +
                                 std::to_string(parent.pid()) + "/children";
    while (harness::read_file(children).empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::stoi(harness::read_file(children));
  };
  const pid_t served_pid = child_of(supervisor);
  const pid_t first_pid = child_of(chain);

  const auto run =
      run_host({"--json", "run", "--root", tree.path() + "/corvane", "--wait", "1", "--force"});
  EXPECT_EQ(run.status, 4) << run.err;
  const nlohmann::json report = run.json();
  std::map<int, std::vector<std::string>> warnings;
  for (const auto& process : report["check"]["processes"]) {
    warnings[process["pid"]] = process["warnings"];
  }
  EXPECT_EQ(warnings,
            (std::map<int, std::vector<std::string>>{
                {plain.pid(), {}},
                {ignoring.pid(), {"it ignores SIGTERM: it will not end"}},
                {blocking.pid(), {"it blocks SIGTERM: it ends only once it unblocks it"}},
                {stopped.pid(), {"it is stopped: SIGTERM ends it only once it continues"}},
                {served_pid, {}},
                {first_pid, {}}}));
  outcomes expected = {{plain.pid(), "ended on SIGTERM"},    {ignoring.pid(), "ended on SIGKILL"},
                       {blocking.pid(), "ended on SIGKILL"}, {stopped.pid(), "ended on SIGKILL"},
                       {served_pid, "ended on SIGTERM"},     {first_pid, "ended on SIGTERM"}};
  outcomes seen = run.outcomes();
  ASSERT_EQ(seen.size(), expected.size() + 1) << run.out;
  EXPECT_EQ(std::prev(seen.end())->second, "started again") << run.out;  // the newest ID
  seen.erase(std::prev(seen.end()));
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(plain.ended_by_sigterm());
}

bool kernel_has_pidfs() {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, getpid(), 0));
  struct statfs file_system {};
  const bool pidfs = pidfd >= 0 && fstatfs(pidfd, &file_system) == 0 &&
                     file_system.f_type == 0x50494446;  // PIDFS_MAGIC
  close(pidfd);
  return pidfs;
}

// `other` stands under its own ID, but with the identity of a process that has gone: its
// start time, then its pidfs inode, differs from what the check recorded.
TEST(termination, an_id_that_names_another_process_now_is_never_signalled) {
  for (const bool forged_start_time : {true, false}) {
    const temp_tree tree;
    const std::string session = tree.path() + "/session";
    child ended(tree.add_program("corvane/bin/ended"));
    const child other(tree.add_program("corvane/bin/other"));
    ASSERT_EQ(run_host({"--session", session, "check", "--root", tree.path() + "/corvane"}).status,
              3);
    kill(ended.pid(), SIGKILL);
    ASSERT_FALSE(ended.ended_by_sigterm());
    session_t values = corvane_host::decode_session(harness::read_file(session));
    std::string& identities = values.values[corvane_host::identities_key];
    auto decoded = corvane_host::decode_identities(identities);
    ASSERT_EQ(decoded.back().pid, other.pid());
    if (!forged_start_time && !kernel_has_pidfs()) {
      GTEST_SKIP() << "no pidfs here: start times are all the kernel offers";
    }
    EXPECT_EQ(decoded.back().inode != 0, kernel_has_pidfs());
    ++(forged_start_time ? decoded.back().start_time : decoded.back().inode);
    identities = corvane_host::encode_identities(decoded);
    harness::write_file(session, corvane_host::encode_session(values));

    const auto kill = run_host({"--session", session, "kill"});
    EXPECT_EQ(kill.status, 0) << kill.err;
    EXPECT_EQ(kill.out, "Sent SIGTERM to 0 process(es).\n  " + std::to_string(ended.pid()) + "  " +
                            tree.path() + "/corvane/bin/ended: already gone\n  " +
                            std::to_string(other.pid()) + "  " + tree.path() +
                            "/corvane/bin/other: left alone (the ID now belongs to another "
                            "process)\nkill_corvane returned -1\n");
    EXPECT_TRUE(other.running());
  }
}

// An ordinary user can neither see what another user's process runs nor signal it.
TEST(termination, an_ordinary_user_cannot_inspect_or_signal_another_users_process) {
  const temp_tree tree;
  const std::string host = tree.add_built_host("build");
  chmod(tree.path().c_str(), 0777);
  const std::string session = tree.path() + "/session";
  const std::string program = tree.add_program("corvane/bin/corvane");
  const child theirs(harness::as_user("nobody", "nogroup", {program, "1000"}), program);
  const auto as_daemon = [&host](std::vector<std::string> args) {
    args.insert(args.begin(), host);
    return harness::run(harness::as_user("daemon", "daemon", args));
  };
  const auto blind = as_daemon({"check", "--root", tree.path() + "/corvane"});
  EXPECT_EQ(blind.status, 5) << blind.err;
  EXPECT_EQ(blind.out, "No corvane process is running from " + tree.path() +
                           "/corvane/.\nCould not inspect 1 process(es) (Permission denied: 1): "
                           "their programs are unknown; a complete check needs root.\nCritical "
                           "prerequisite raised: no\n");

  ASSERT_EQ(run_host({"--session", session, "check", "--root", tree.path() + "/corvane"}).status,
            3);
  chmod(session.c_str(), 0666);
  chmod((session + ".lock").c_str(), 0666);
  const auto kill = as_daemon({"--session", session, "kill"});
  EXPECT_EQ(kill.status, 4) << kill.err;
  EXPECT_EQ(kill.out, "Sent SIGTERM to 0 process(es).\n  " + std::to_string(theirs.pid()) + "  " +
                          program +
                          ": not permitted (Operation not permitted)\nkill_corvane "
                          "returned -1\n");
  EXPECT_TRUE(theirs.running());
}

}  // namespace
