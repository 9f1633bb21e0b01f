// SPDX-License-Identifier: MIT
// Ending what a check recorded, with real processes and signals: verified signals, an
// outcome per process or the failure said, waiting, escalation, programs that come back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <list>
#include <tuple>

#include "ending/session_records.h"
#include "files/session.h"
#include "host_harness.h"
#include "proc/proc_parse.h"
#include "proc/process_handle.h"

namespace {

using harness::child;
using harness::run_host;
using harness::sigterm_is;
using harness::temp_tree;
using outcomes = std::map<int, std::string>;
using warnings = std::map<int, std::vector<std::string>>;
namespace fs = std::filesystem;

warnings warnings_by_pid(const harness::host_run& run) {
  warnings found;
  const nlohmann::json report = run.json();
  for (const auto& process : report["check"]["processes"]) {
    found[process["pid"]] = process["warnings"];
  }
  return found;
}

// Every test here sends real signals, in a tree of its own: the installation corvane/ and a
// session beside it.
class termination : public testing::Test {
 protected:
  void SetUp() override { SKIP_WHERE(harness::no_private_pid_namespace()); }
  // A check that records into the session: its exit status.
  [[nodiscard]] int check() const {
    return run_host({"--session", session, "check", "--root", root}).status;
  }

  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string session = tree.path() + "/session";
};

// With few descriptors, and a session file that cannot grow: every process
// ends, and the report of what was signalled comes before the failed save.
TEST_F(termination, hundreds_end_under_small_limits_and_a_failed_save_comes_last) {
  const std::string program = tree.add_program("corvane/bin/corvane");
  std::list<child> children;
  outcomes expected;
  for (int i = 0; i < 300; ++i) {
    expected[children.emplace_back(program).pid()] = "ended on SIGTERM";
  }
  session_t big;
  // Larger than the files it may write, which leave room for any report, whatever TMPDIR is.
  big.values["BIG"] = std::string(4000000, 'x');
  const std::string session = tree.add_file("session", corvane_host::encode_session(big));
  const std::vector<std::string> args = {
      "/usr/bin/prlimit", "--nofile=64", "--fsize=2000000", harness::host_file,
      "--session",        session,       "--json",          "run",
      "--root",           root,          "--wait",          "20"};
  const auto run = harness::run(args);
  EXPECT_EQ(run.status, 6) << run.err.substr(0, 2000);
  EXPECT_EQ(run.outcomes(), expected);
  EXPECT_EQ(run.json()["kill"]["sent"], 300);
  EXPECT_NE(run.err.find("cannot write " + session + "."), std::string::npos)
      << run.err.substr(0, 2000);
  EXPECT_EQ(harness::read_file(session), corvane_host::encode_session(big));
  EXPECT_EQ(std::distance(fs::directory_iterator(tree.path()), fs::directory_iterator()), 2)
      << "beside corvane/ and the session, a temporary file was left";
  for (child& one : children) {
    EXPECT_TRUE(one.ended_by_sigterm()) << one.pid();
  }
  // Nothing left to signal: the failed save is the whole failure.
  const auto again = harness::run(args);
  EXPECT_EQ(again.status, 1) << again.err.substr(0, 2000);
  EXPECT_NE(again.err.find("cannot write"), std::string::npos) << again.err.substr(0, 2000);
  EXPECT_EQ(harness::read_file(session), corvane_host::encode_session(big));
}

TEST_F(termination, warnings_name_what_sigterm_will_not_end_force_ends_it_and_comebacks_count) {
  child plain(tree.add_program("corvane/bin/plain"));
  child ignoring(tree.add_program("corvane/bin/ignoring"), sigterm_is::ignored);
  child blocking(tree.add_program("corvane/bin/blocking"), sigterm_is::blocked);
  // A service manager that restarts its program after a pause, and a script that, once its
  // program has ended, runs another one: both are programs of the installation running again.
  const std::string served = tree.add_program("corvane/bin/served");
  const child supervisor({"/bin/sh", "-c", R"(while :; do "$0" 1000; sleep 0.2; done)", served});
  const child chain({"/bin/sh", "-c", R"("$0" 1000; exec "$1" 1000)",
                     tree.add_program("corvane/bin/first"), tree.add_program("corvane/bin/next")});
  // Daemons that block SIGTERM and still take it at once.
  const std::string modes = tree.add_program("corvane/bin/modes", harness::sigterm_modes_file);
  child by_signalfd({modes, "signalfd"}, "ready");
  child by_sigwait({modes, "sigwait"}, "ready");
  child by_worker({modes, "worker"}, "ready");
  // On SIGTERM it becomes another program: SIGKILL is for the installation's alone.
  harness::write_file(tree.path() + "/corvane/away",
                      "trap 'exec sleep 1000' TERM\nsleep 1000 & wait\n");
  const child away({"/bin/sh", tree.path() + "/corvane/away"}, "/bin/sh");
  harness::child_of(away.pid(), "sleep");  // before its exec, the forked shell is ours too
  const pid_t served_pid = harness::child_of(supervisor.pid(), "served");
  const pid_t first_pid = harness::child_of(chain.pid(), "first");

  const auto run = run_host({"--json", "run", "--root", root, "--wait", "1", "--force"});
  EXPECT_EQ(run.status, 4) << run.err;
  outcomes expected = {
      {plain.pid(), "ended on SIGTERM"},      {ignoring.pid(), "ended on SIGKILL"},
      {blocking.pid(), "ended on SIGKILL"},   {served_pid, "ended on SIGTERM"},
      {first_pid, "ended on SIGTERM"},        {by_signalfd.pid(), "ended on SIGTERM"},
      {by_sigwait.pid(), "ended on SIGTERM"}, {by_worker.pid(), "ended on SIGTERM"},
      {away.pid(), "still running"}};
  warnings said;  // none, but for two
  for (const auto& one : expected) {
    said[one.first] = {};
  }
  said[ignoring.pid()] = {"it ignores SIGTERM: it will not end"};
  said[blocking.pid()] = {"it blocks SIGTERM: it ends only once it unblocks it"};
  EXPECT_EQ(warnings_by_pid(run), said);
  outcomes seen = run.outcomes();
  int again = 0;
  for (auto one = seen.begin(); one != seen.end();) {
    one = one->second == "started again" ? (++again, seen.erase(one)) : std::next(one);
  }
  EXPECT_EQ(again, 2) << run.out;
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(plain.ended_by_sigterm() && away.running());
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
TEST_F(termination, an_id_that_names_another_process_now_is_never_signalled) {
  for (const bool forged_start_time : {true, false}) {
    const temp_tree fresh;  // each round's
    const std::string session = fresh.path() + "/session";
    child ended(fresh.add_program("corvane/bin/ended"));
    const child other(fresh.add_program("corvane/bin/other"));
    ASSERT_EQ(run_host({"--session", session, "check", "--root", fresh.path() + "/corvane"}).status,
              3);
    kill(ended.pid(), SIGKILL);
    ASSERT_FALSE(ended.ended_by_sigterm());
    session_t values = corvane_host::decode_session(harness::read_file(session));
    std::string& identities = values.values[corvane_host::identities_key];
    auto decoded = corvane_host::decode_identities(identities);
    ASSERT_EQ(decoded.back().who.pid, other.pid());
    EXPECT_EQ(decoded.back().who.start_time,
              corvane_host::parse_stat(
                  harness::read_file("/proc/" + std::to_string(other.pid()) + "/stat"))
                  ->start_time);
    SKIP_WHERE(forged_start_time || kernel_has_pidfs() ? "" : "no pidfs: only start times here");
    EXPECT_EQ(decoded.back().who.inode != 0, kernel_has_pidfs());
    // A forged inode of 0 must not skip the comparison.
    (forged_start_time ? ++decoded.back().who.start_time : decoded.back().who.inode = 0);
    identities = corvane_host::encode_identities(decoded);
    harness::write_file(session, corvane_host::encode_session(values));

    const auto kill = run_host({"--session", session, "kill"});
    EXPECT_EQ(kill.status, 0) << kill.err;
    EXPECT_EQ(kill.out, "Sent SIGTERM to 0 process(es).\n  " + std::to_string(ended.pid()) + "  " +
                            fresh.path() + "/corvane/bin/ended: already gone\n  " +
                            std::to_string(other.pid()) + "  " + fresh.path() +
                            "/corvane/bin/other: left alone (the ID now belongs to another "
                            "process)\nkill_corvane returned -1\n");
    EXPECT_TRUE(other.running());
  }
}

// A session is a hint: what a user writes can make root leave a process alone, never
// signal one (a stranger, with its true identity and a file of the installation).
TEST_F(termination, a_rewritten_session_cannot_direct_a_signal) {
  const child ours(tree.add_program("corvane/bin/corvane"));
  const child zombie(tree.add_program("corvane/bin/zombie"));
  const child stranger(tree.add_program("elsewhere/corvane"));
  ASSERT_EQ(check(), 3);
  kill(zombie.pid(), SIGKILL);  // not reaped: its ID stays taken, its program is gone
  EXPECT_NE(harness::read_file(session).find("\ncorvane_host_IDENTITIES="), std::string::npos)
      << "the key other tools read";
  session_t values = corvane_host::decode_session(harness::read_file(session));
  const corvane_host::unique_fd proc = corvane_host::open_proc();
  const auto pinned = corvane_host::process_handle::pin(stranger.pid(), proc.get());
  // This test, which calls the host, and `ours` listed twice: signalled once.
  const auto caller = corvane_host::process_handle::pin(getpid(), proc.get());
  ASSERT_TRUE(pinned.handle && caller.handle);
  values.values["RUNNING_PROC_LIST"] += ";0;" + std::to_string(stranger.pid()) + ";" +
                                        std::to_string(getpid()) + ";" +
                                        std::to_string(ours.pid()) + ";99999";
  values.values[corvane_host::identities_key] +=
      ";" + corvane_host::encode_identities({{pinned.handle->identity(), root + "/bin/corvane"},
                                             {caller.handle->identity(), root + "/bin/corvane"}});
  harness::write_file(session, corvane_host::encode_session(values));

  const auto killed = run_host({"--session", session, "--json", "kill"});
  EXPECT_EQ(killed.status, 0) << killed.err;
  EXPECT_EQ(killed.outcomes(), (outcomes{{ours.pid(), "sent SIGTERM"},
                                         {zombie.pid(), "already gone"},
                                         {stranger.pid(), "left alone"},
                                         {getpid(), "left alone"},
                                         {99999, "left alone"}}));
  const nlohmann::json skipped = killed.json()["kill"]["processes"];  // in the list's order
  EXPECT_EQ(skipped.size(), 6U) << killed.out;
  EXPECT_EQ(skipped[1]["reason"], "not a process ID") << killed.out;
  EXPECT_EQ(skipped[2]["reason"], "it no longer runs a file of the installation");
  EXPECT_EQ(skipped[3]["reason"], "it is this corvane-host or a process that called it");
  EXPECT_TRUE(stranger.running());

  // Up to 64 entries beyond the check's records are taken, one more is not: not its list.
  const std::size_t records =
      corvane_host::decode_identities(values.values[corvane_host::identities_key]).size();
  const std::string& list = values.values["RUNNING_PROC_LIST"];
  const std::size_t entries = std::count(list.begin(), list.end(), ';') + 1;
  for (const std::size_t more : {records + 64 - entries, records + 65 - entries}) {
    session_t padded = values;
    padded.values["RUNNING_PROC_LIST"].insert(0, more, ';');
    harness::write_file(session, corvane_host::encode_session(padded));
    const auto padded_kill = run_host({"--session", session, "kill"});
    const bool refused = entries + more > records + 64;
    EXPECT_EQ(padded_kill.status, refused ? 1 : 0) << padded_kill.err;
    EXPECT_EQ(padded_kill.err.find("was not written by a check") != std::string::npos, refused);
  }

  // Its root, too, is a hint: a session another user may write needs --root, and must agree.
  values.values["CORVANE_PATH"] = tree.path() + "/elsewhere";
  harness::write_file(session, corvane_host::encode_session(values));
  chmod(session.c_str(), 0620);  // its group may write it
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--session", session, "kill"}, {"--session", session, "kill", "--root", root}}) {
    const auto refused = run_host(args);
    EXPECT_EQ(refused.status, 1) << refused.out;
    const auto said =
        args.size() == 3 ? "kill --root DIR" : "session " + session + " was not written for";
    EXPECT_NE(refused.err.find(said), std::string::npos) << refused.err;
  }
  EXPECT_TRUE(stranger.running());
}

// The plug-in ends a listed process and has its ID handed to a stranger before it
// records the ID: the identity recorded is the scan's, so the stranger gets nothing.
TEST_F(termination, an_id_reused_while_the_plugin_runs_is_never_signalled) {
  (void)tree.add_program("corvane/bin/victim");
  const std::string log = tree.path() + "/log";
  const auto run =
      run_host({"--plugin", harness::reuse_plugin_file, "--log", log, "run", "--root", root});
  int listed = 0;
  int victim = 0;
  int stranger = 0;
  const std::string line = harness::read_file(log);
  ASSERT_EQ(std::sscanf(line.c_str(), "reuse: listed %d, victim %d, stranger %d", &listed, &victim,
                        &stranger),
            3)
      << line;
  EXPECT_EQ(listed, 1);
  SKIP_WHERE(victim == stranger ? "" : "the kernel did not hand the ID on (ns_last_pid)");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("  " + std::to_string(stranger) + "  " + tree.path() +
                         "/corvane/bin/victim: left alone (the ID now belongs to another process)"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Sent SIGTERM to 0 process(es)"), std::string::npos) << run.out;
  // The stranger, an orphan now, is this namespace's first process's to reap.
  EXPECT_EQ(waitpid(stranger, nullptr, WNOHANG), 0) << "the stranger was signalled";
  kill(stranger, SIGKILL);
  waitpid(stranger, nullptr, 0);
}

// Between check and kill, launchers hand over: to the installation's real program, which is
// still the installation's and signalled under what it runs now; to a program elsewhere, left
// alone; to one elsewhere that, once another is signalled, hands back to the installation: the
// look after the wait finds it still running.
TEST_F(termination, launchers_that_hand_over_between_check_and_kill) {
  const std::string real = tree.add_program("corvane/bin/corvane-real");
  const std::string elsewhere = tree.add_program("other/sleep");
  const std::string back = tree.path() + "/back";
  ASSERT_EQ(mkfifo(back.c_str(), 0600), 0);
  const std::string nul(1, '\0');
  // What each launcher runs next, and how its command line then begins.
  const std::vector<std::pair<std::string, std::string>> handovers = {
      {real + " 1000", real + nul},
      {elsewhere + " 1000", elsewhere + nul},
      {"/bin/sh -c 'read x <" + back + "; exec " + real + " 1000'", "/bin/sh" + nul + "-c" + nul}};
  std::list<child> launchers;
  for (std::size_t i = 0; i < handovers.size(); ++i) {
    const std::string name = "launcher" + std::to_string(i);
    const std::string go = tree.path() + "/go-" + name;
    ASSERT_EQ(mkfifo(go.c_str(), 0600), 0);
    const std::string script = tree.add_file(
        "corvane/bin/" + name, "read x <" + go + "\nexec " + handovers[i].first + "\n");
    launchers.emplace_back(std::vector<std::string>{"/bin/sh", script}, "/bin/sh");
    harness::wait_for_open(launchers.back().pid(), name);
  }
  const child trigger(
      {"/bin/sh", tree.add_file("corvane/bin/trigger",
                                "trap 'echo >" + back + "; exit 0' TERM\nsleep 1000 & wait\n")},
      "/bin/sh");
  harness::child_of(trigger.pid(), "sleep");  // before, the forked shell is ours too
  ASSERT_EQ(check(), 3);
  auto launcher = launchers.begin();
  for (std::size_t i = 0; i < handovers.size(); ++i, ++launcher) {
    harness::write_file(tree.path() + "/go-launcher" + std::to_string(i), "\n");
    const std::string cmdline = "/proc/" + std::to_string(launcher->pid()) + "/cmdline";
    ASSERT_TRUE(harness::eventually(
        [&] { return harness::read_file(cmdline).rfind(handovers[i].second, 0) == 0; }));
  }

  const auto kill = run_host({"--session", session, "--json", "kill", "--wait", "5"});
  EXPECT_EQ(kill.status, 4) << kill.err;
  const pid_t handed = launchers.front().pid();
  const pid_t came_back = launchers.back().pid();
  EXPECT_EQ(kill.outcomes(), (outcomes{{handed, "ended on SIGTERM"},
                                       {std::next(launchers.begin())->pid(), "left alone"},
                                       {came_back, "still running"},
                                       {trigger.pid(), "ended on SIGTERM"}}));
  const nlohmann::json fates = kill.json()["kill"]["processes"];
  for (const auto& fate : fates) {
    if (fate["pid"] == handed || fate["pid"] == came_back) {
      EXPECT_EQ(fate["command"], real) << kill.out;
      EXPECT_FALSE(fate.contains("reason")) << kill.out;
    } else if (fate["outcome"] == "left alone") {
      EXPECT_EQ(fate["reason"], "it no longer runs a file of the installation");
    }
  }
  EXPECT_TRUE(launchers.back().running());
}

// The plug-in signals the first, which its parent reaps before the wait begins (it has
// ended, with nothing left to hold) and then ends, so that nothing may start it again; it
// leaves the other alone (said, not counted as sent).
TEST_F(termination, reaped_before_the_wait_or_left_alone_by_the_plugin) {
  const std::string program = tree.add_program("corvane/bin/corvane");
  const child parent({"/bin/sh", "-c", R"("$0" 1000 & wait)", program}, "/bin/sh");
  const pid_t reaped = harness::child_of(parent.pid(), "corvane");
  const child left(program);
  ASSERT_EQ(check(), 3);
  const auto start = std::chrono::steady_clock::now();
  const auto run = harness::run({"/usr/bin/env", "REUSE_PLUGIN_SIGNALS=first", harness::host_file,
                                 "--plugin", harness::reuse_plugin_file, "--session", session,
                                 "--json", "kill", "--wait", "30"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20))
      << "it waited for what had already ended";
  EXPECT_EQ(run.outcomes(), (outcomes{{reaped, "ended on SIGTERM"}, {left.pid(), "left alone"}}));
  EXPECT_EQ(run.json()["kill"]["sent"], 1) << run.out;
  EXPECT_EQ(run.json()["kill"]["processes"][0]["reason"], "the plug-in did not signal it");
  EXPECT_TRUE(left.running());
}

// The plug-in throws once its first signal is out: the report still comes first, then the
// failure, and the exit status says signals went out.
TEST_F(termination, a_plugin_that_throws_after_a_signal_still_gets_its_report) {
  child signalled(tree.add_program("corvane/bin/corvane"));
  ASSERT_EQ(check(), 3);
  const auto run =
      harness::run({"/usr/bin/env", "REUSE_PLUGIN_SIGNALS=throw", harness::host_file, "--plugin",
                    harness::reuse_plugin_file, "--session", session, "--json", "kill"});
  EXPECT_EQ(run.status, 6) << run.err;
  EXPECT_EQ(run.outcomes(), (outcomes{{signalled.pid(), "sent SIGTERM"}})) << run.out;
  EXPECT_NE(run.err.find("kill_corvane threw: the plug-in's own failure"), std::string::npos)
      << run.err;
  EXPECT_TRUE(signalled.ended_by_sigterm());
}

// A report that cannot be written once signals are out (its pipe's reader gone) is said after them.
TEST_F(termination, a_report_that_cannot_be_written_is_a_failure_after_the_signals) {
  SKIP_WHERE(harness::missing("/usr/bin/python3"));
  child signalled(tree.add_program("corvane/bin/corvane"));
  const auto run = harness::run(
      {"/usr/bin/python3", "-c",
       "import os, signal, sys; signal.signal(signal.SIGPIPE, signal.SIG_DFL); r, w = os.pipe(); "
       "os.close(r); os.dup2(w, 1); os.execv(sys.argv[1], sys.argv[1:])",
       harness::host_file, "--log", "/dev/null", "run", "--root", root});
  EXPECT_EQ(std::tie(run.status, run.err),
            std::make_tuple(6, "corvane-host: cannot write the report: Broken pipe\n"));
  EXPECT_TRUE(signalled.ended_by_sigterm());
}

// A program that, on SIGTERM, moves the installation away: the look after
// --wait fails, yet what was signalled is reported first.
TEST_F(termination, a_root_gone_during_the_wait_is_reported_after_the_fates) {
  (void)tree.add_file("corvane/leaver", R"(trap 'mv "$1" "$1.moved"; exit 0' TERM
sleep 1000 & wait
)");
  child leaver({"/bin/sh", root + "/leaver", root}, "/bin/sh");
  // Until its sleep runs: before its exec, the forked copy of the shell is ours too.
  harness::child_of(leaver.pid(), "sleep");
  const auto run = run_host({"run", "--root", root, "--wait", "5"});
  EXPECT_EQ(run.status, 6) << run.err;
  EXPECT_EQ(run.out.substr(run.out.find("Sent SIGTERM")),
            "Sent SIGTERM to 1 process(es).\n  " + std::to_string(leaver.pid()) + "  " + root +
                "/leaver: ended on SIGTERM\nkill_corvane returned 0\n");
  EXPECT_EQ(run.err.substr(run.err.rfind("corvane-host: ")),
            "corvane-host: cannot look again at " + root + ": No such file or directory\n");
}

// Stopped programs are continued right after their SIGTERM and take it, a daemon through its
// handler; a namespace's init is named for what its end takes down. Without --force, what
// outlives the wait still runs.
TEST_F(termination, stopped_programs_take_sigterm_a_namespace_init_is_named_and_no_force) {
  SKIP_WHERE(harness::missing("/usr/bin/unshare"));
  const std::string modes = tree.add_program("corvane/bin/modes", harness::sigterm_modes_file);
  const std::string handled = tree.path() + "/handled";
  child plain(tree.add_program("corvane/bin/stopped\nname"));
  const child daemon({modes, "handler", handled}, "ready");
  for (const pid_t pid : {plain.pid(), daemon.pid()}) {
    kill(pid, SIGSTOP);
    waitpid(pid, nullptr, WUNTRACED);
  }
  const child container({"/usr/bin/unshare", "--pid", "--fork", modes, "handler", handled + ".init",
                         "/bin/sleep", "1000"},
                        "/usr/bin/unshare");
  const pid_t init = harness::child_of(container.pid(), "modes");
  harness::child_of(init, "sleep");
  const child ignoring(tree.add_program("corvane/bin/ignoring"), sigterm_is::ignored);
  const auto run = run_host({"--json", "run", "--root", root, "--wait", "2"});
  EXPECT_EQ(run.status, 4) << run.err;
  const std::string stopped =
      "it is stopped: it will be continued right after its SIGTERM, so that it takes it";
  EXPECT_EQ(warnings_by_pid(run),
            (warnings{{plain.pid(), {stopped}},
                      {daemon.pid(), {stopped}},
                      {init,
                       {"it is the first process of its pid namespace (a container's init): "
                        "when it ends, the kernel kills every other process of that namespace "
                        "(1 running) without a SIGTERM of their own"}},
                      {ignoring.pid(), {"it ignores SIGTERM: it will not end"}}}));
  EXPECT_EQ(run.outcomes(), (outcomes{{plain.pid(), "ended on SIGTERM"},
                                      {daemon.pid(), "ended on SIGTERM"},
                                      {init, "ended on SIGTERM"},
                                      {ignoring.pid(), "still running"}}));
  EXPECT_TRUE(plain.ended_by_sigterm() && ignoring.running());
  EXPECT_EQ(harness::read_file(handled), "SIGTERM");
  EXPECT_EQ(harness::read_file(handled + ".init"), "SIGTERM");
}

// A supervisor starts its program again a second after it ends: kill --wait watches for it
// for the rest of its time, and a retried one, which signals nothing new, still sees it; with
// no wait, the report names the parent that may start it again.
TEST_F(termination, a_comeback_is_watched_for_and_a_possible_one_is_said) {
  const std::string served = tree.add_program("corvane/bin/served");
  const child supervisor({"/bin/sh", "-c", R"(while :; do "$0" 1000; sleep 1; done)", served},
                         "/bin/sh");
  harness::child_of(supervisor.pid(), "served");
  ASSERT_EQ(check(), 3);
  int again = 0;
  for (const int sent : {1, 0}) {
    const auto kill = run_host({"--session", session, "--json", "kill", "--wait", "3"});
    EXPECT_EQ(kill.status, 4) << kill.err;
    EXPECT_EQ(kill.json()["kill"]["sent"], sent);
    std::string last;
    for (const auto& [pid, outcome] : kill.outcomes()) {
      std::tie(again, last) = std::tie(pid, outcome);
    }
    EXPECT_EQ(last, "started again") << kill.out;
  }
  const auto unwaited = run_host({"run", "--root", root});
  EXPECT_NE(unwaited.out.find("  " + std::to_string(again) + "  " + served +
                              ": sent SIGTERM; its parent " + std::to_string(supervisor.pid()) +
                              " (sh) may start it again\n"),
            std::string::npos)
      << unwaited.out;
}

// An ordinary user can neither see what another user's process runs nor signal it.
TEST_F(termination, an_ordinary_user_cannot_inspect_or_signal_another_users_process) {
  SKIP_WHERE(harness::not_root());
  const std::string host = tree.add_built_host("build");
  chmod(tree.path().c_str(), 0777);
  const std::string program = tree.add_program("corvane/bin/corvane");
  const child theirs(harness::as_user("nobody", "nogroup", {program, "1000"}), program);
  const auto as_daemon = [&host](std::vector<std::string> args) {
    args.insert(args.begin(), host);
    return harness::run(harness::as_user("daemon", "daemon", args));
  };
  const auto blind = as_daemon({"check", "--root", root});
  EXPECT_EQ(blind.status, 5) << blind.err;
  EXPECT_EQ(blind.out, "No corvane process is running from " + tree.path() +
                           "/corvane/.\nCould not inspect 1 process(es) (Permission denied: 1): "
                           "their programs are unknown; a complete check needs root.\nCritical "
                           "prerequisite raised: no\n");

  ASSERT_EQ(check(), 3);
  chmod(session.c_str(), 0666);
  chmod((session + ".lock").c_str(), 0666);
  EXPECT_EQ(as_daemon({"--session", session, "kill"}).status, 1) << "a session root wrote";
  const auto kill = as_daemon({"--session", session, "kill", "--root", root});
  EXPECT_EQ(kill.status, 4) << kill.err;
  EXPECT_EQ(kill.out, "Sent SIGTERM to 0 process(es).\n  " + std::to_string(theirs.pid()) + "  " +
                          program +
                          ": not permitted (Permission denied)\nkill_corvane returned -1\n");
  EXPECT_TRUE(theirs.running());
  // The user's own ended; the look after the wait could not inspect the other's: incomplete.
  const std::string own = tree.add_program("corvane/bin/own");
  child ours(harness::as_user("daemon", "daemon", {own, "1000"}), own);
  ASSERT_EQ(as_daemon({"--session", session + "2", "check", "--root", root}).status, 3);
  const auto waited = as_daemon({"--session", session + "2", "kill", "--root", root, "--wait=9"});
  EXPECT_EQ(std::make_tuple(waited.status, ours.ended_by_sigterm()), std::make_tuple(5, true));
}

}  // namespace
