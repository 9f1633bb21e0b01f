// SPDX-License-Identifier: MIT
// Ending what a check recorded, with real processes and real signals: every
// process signalled or the failure said, a verified signal, an outcome per
// process, waiting, escalation and programs that come back.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <filesystem>
#include <list>
#include <thread>

#include "host_harness.h"
#include "pid_guard.h"
#include "session.h"

namespace {

using harness::child;
using harness::run_host;
using harness::temp_tree;

// Each recorded process's outcome, by ID.
std::map<int, std::string> outcomes(const nlohmann::json& report) {
  std::map<int, std::string> by_pid;
  for (const auto& process : report["kill"]["processes"]) {
    by_pid[process["pid"].get<int>()] = process["outcome"];
  }
  return by_pid;
}

uid_t uid_of(const char* user) {
  const passwd* entry = getpwnam(user);
  return entry != nullptr ? entry->pw_uid : 65534;
}

TEST(termination, hundreds_end_under_a_small_descriptor_limit) {
  const temp_tree tree;
  const std::string program = tree.add_program("corvane/bin/corvane");
  std::list<child> children;
  std::map<int, std::string> expected;
  for (int i = 0; i < 300; ++i) {
    expected[children.emplace_back(program).pid()] = "ended on SIGTERM";
  }
  const auto run = run_host({"--json", "run", "--root", tree.path() + "/corvane", "--wait", "20"},
                            {std::nullopt, "", {{RLIMIT_NOFILE, 64}}});
  ASSERT_EQ(run.status, 0) << run.err.substr(0, 2000);
  EXPECT_EQ(outcomes(run.json()), expected);
  EXPECT_EQ(run.json()["kill"]["sent"], 300);
  for (child& one : children) {
    EXPECT_TRUE(one.ended_by_sigterm()) << one.pid();
  }
}

TEST(termination, an_id_of_another_process_with_the_old_start_time_is_never_signalled) {
  const temp_tree tree;
  const std::string session = tree.path() + "/session";
  child ended(tree.add_program("corvane/bin/ended"));
  const child other(tree.add_program("corvane/bin/other"));
  ASSERT_EQ(run_host({"--session", session, "check", "--root", tree.path() + "/corvane"}).status,
            3);
  kill(ended.pid(), SIGKILL);
  ASSERT_FALSE(ended.ended_by_sigterm());

  // `other` now stands under its own ID and start time, but with the
  // identity of a process that has gone: a reuse that start times cannot tell.
  session_t values = corvane_host::decode_session(harness::read_file(session));
  auto identities = corvane_host::decode_identities(values.values[corvane_host::identities_key]);
  for (auto& who : identities) {
    if (who.pid == other.pid()) {
      if (who.inode == 0) {
        GTEST_SKIP() << "no pidfs here: start times are all the kernel offers";
      }
      ++who.inode;
    }
  }
  values.values[corvane_host::identities_key] = corvane_host::encode_identities(identities);
  harness::write_file(session, corvane_host::encode_session(values));

  const auto kill = run_host({"--session", session, "--json", "kill"});
  EXPECT_EQ(kill.status, 0) << kill.err;
  EXPECT_EQ(outcomes(kill.json()), (std::map<int, std::string>{{ended.pid(), "already gone"},
                                                               {other.pid(), "left alone"}}));
  EXPECT_EQ(kill.json()["kill"]["sent"], 0);
  EXPECT_EQ(kill.json()["kill"]["processes"][1]["reason"], "the ID now belongs to another process");
  EXPECT_TRUE(other.running());
  EXPECT_EQ(kill.err.find("termination"), std::string::npos) << "something was signalled";
}

TEST(termination, a_program_that_comes_back_is_named_and_the_exit_is_not_zero) {
  const temp_tree tree;
  const std::string program = tree.add_program("corvane/bin/corvane");
  const std::string supervisor = tree.path() + "/supervisor";
  harness::write_file(supervisor, "while :; do \"" + program + "\" 1000; done\n");
  const child restarting(harness::launch{{"/bin/sh", supervisor}, "", {}, "", false, std::nullopt});
  while (harness::read_file("/proc/" + std::to_string(restarting.pid()) + "/task/" +
                            std::to_string(restarting.pid()) + "/children")
             .empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto run = run_host({"--json", "run", "--root", tree.path() + "/corvane", "--wait", "5"});
  EXPECT_EQ(run.status, 4) << run.err;
  std::vector<std::string> seen;
  const nlohmann::json report = run.json();
  for (const auto& process : report["kill"]["processes"]) {
    seen.push_back(process["outcome"]);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"ended on SIGTERM", "started again"})) << run.out;
}

TEST(termination, force_ends_what_ignores_sigterm_and_odd_names_stay_on_their_own_line) {
  const temp_tree tree;
  const std::string odd = tree.add_program("corvane/bin/odd\nname");
  child first(tree.add_program("corvane/bin/a"));
  child stubborn(odd, true);
  child last(tree.add_program("corvane/bin/z"));
  const auto run =
      run_host({"--json", "run", "--root", tree.path() + "/corvane", "--wait", "1", "--force"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(outcomes(run.json()), (std::map<int, std::string>{{first.pid(), "ended on SIGTERM"},
                                                              {stubborn.pid(), "ended on SIGKILL"},
                                                              {last.pid(), "ended on SIGTERM"}}));
  std::map<int, std::string> commands;
  const nlohmann::json report = run.json();
  for (const auto& process : report["check"]["processes"]) {
    commands[process["pid"].get<int>()] = process["command"];
  }
  EXPECT_EQ(commands[stubborn.pid()], odd);
  EXPECT_EQ(commands[last.pid()], tree.path() + "/corvane/bin/z");
  first.ended_by_sigterm();
  stubborn.ended_by_sigterm();
  last.ended_by_sigterm();
}

TEST(termination, another_users_process_is_reported_not_permitted) {
  const temp_tree tree;
  chmod(tree.path().c_str(), 0777);
  const std::string host = harness::copy_built_host(tree.path() + "/build");
  const std::string session = tree.path() + "/session";
  harness::launch as_nobody{
      {tree.add_program("corvane/bin/corvane"), "1000"}, "", {}, "", false, uid_of("nobody")};
  chmod((tree.path() + "/corvane").c_str(), 0755);
  chmod((tree.path() + "/corvane/bin").c_str(), 0755);
  const child theirs(as_nobody);
  ASSERT_EQ(run_host({"--session", session, "check", "--root", tree.path() + "/corvane"}).status,
            3);
  chmod(session.c_str(), 0666);
  chmod((session + ".lock").c_str(), 0666);
  const auto kill = run_host({"--session", session, "kill"}, {uid_of("daemon"), host, {}});
  EXPECT_EQ(kill.status, 4) << kill.err;
  EXPECT_NE(kill.out.find(": not permitted (Operation not permitted)"), std::string::npos)
      << kill.out;
  EXPECT_NE(kill.out.find("Sent SIGTERM to 0 process(es)."), std::string::npos) << kill.out;
  EXPECT_TRUE(theirs.running());
}

TEST(termination, a_save_that_fails_after_the_signals_reports_them_first) {
  const temp_tree tree;
  const std::string session = tree.path() + "/session";
  session_t big;
  big.values["BIG"] = std::string(200000, 'x');
  harness::write_file(session, corvane_host::encode_session(big));
  child running(tree.add_program("corvane/bin/corvane"));
  const auto run = run_host({"--session", session, "run", "--root", tree.path() + "/corvane"},
                            {std::nullopt, "", {{RLIMIT_FSIZE, 100000}}});
  EXPECT_EQ(run.status, 6) << run.err;
  EXPECT_NE(run.out.find("Sent SIGTERM to 1 process(es)."), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
  EXPECT_TRUE(running.ended_by_sigterm());
  EXPECT_EQ(harness::read_file(session), corvane_host::encode_session(big));
}

}  // namespace
