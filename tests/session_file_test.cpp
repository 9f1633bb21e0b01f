// SPDX-License-Identifier: MIT
// The command line and the session file as scripts and other users leave
// them: bad input refused with one clear message and nothing changed, owners
// and modes kept, links followed only where safe, no litter after a killed
// save, a bounded wait for a held lock. Real files, the built host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

#include "host_harness.h"
#include "session.h"

namespace {

using harness::run_host;
using harness::temp_tree;
namespace fs = std::filesystem;

// Every file under `directory` with a hash of what it holds.
std::map<std::string, std::size_t> snapshot(const std::string& directory) {
  std::map<std::string, std::size_t> files;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    files[entry.path()] =
        entry.is_regular_file() ? std::hash<std::string>{}(harness::read_file(entry.path())) : 0;
  }
  return files;
}

// A session file "s" that holds `text`, and its lock.
std::string session_in(const temp_tree& tree, const std::string& text) {
  harness::write_file(tree.path() + "/s", text);
  harness::write_file(tree.path() + "/s.lock", "");
  return tree.path() + "/s";
}

class refused : public testing::TestWithParam<const char*> {};

// A row: its name | the arguments after --session FILE, ROOT standing for the
// installation | the exit status | the message | FILE, in the tree (by
// default s) | a shell command that makes it, run in the tree (by default, a
// session that records the running program, whose ID is $1).
TEST_P(refused, with_one_clear_message_and_nothing_changed) {
  std::vector<std::string> row = harness::split(GetParam(), '|');
  row.resize(6);
  const temp_tree tree;
  const harness::child corvane(tree.add_program("corvane/bin/corvane"));
  const std::string make =
      row[5].empty() ? "printf 'corvane-host session 1\\nRUNNING_PROC_LIST=%s\\n' $pid >s" : row[5];
  ASSERT_EQ(std::system(("cd '" + tree.path() + "' && pid=" + std::to_string(corvane.pid()) +
                         " && : >s.lock && " + make)
                            .c_str()),
            0);
  const auto before = snapshot(tree.path());
  std::vector<std::string> args = {"--session",
                                   tree.path() + "/" + (row[4].empty() ? "s" : row[4])};
  for (const std::string& arg : harness::split(row[1], ' ')) {
    args.push_back(arg == "ROOT"    ? tree.path() + "/corvane"
                   : arg == "LONG"  ? std::string(5000, 'a')
                   : arg == "EMPTY" ? ""
                                    : arg);
  }
  const auto run = run_host(args);
  EXPECT_EQ(run.status, std::stoi(row[2])) << run.err;
  EXPECT_NE(run.err.find(row[3]), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("corvane_killer:"), std::string::npos) << "the plug-in ran";
  EXPECT_EQ(snapshot(tree.path()), before);
  EXPECT_TRUE(corvane.running());
}

INSTANTIATE_TEST_SUITE_P(
    cases, refused,
    testing::Values(
        "missing_plugin | --plugin /nonexistent.so kill | 1 | cannot load",
        "plugin_without_entry_points | --plugin libm.so.6 kill | 1 | no entry point check_running",
        "root_missing | check --root /nonexistent/corvane | 2 | no such file",
        "root_empty | check --root EMPTY | 2 | --root is empty",
        "root_huge | check --root LONG | 2 | bytes long",
        "root_with_a_line_feed | check --root /tmp\nx | 2 | control character",
        "root_selects_everything | run --root / | 2 | every process",
        "root_in_a_system_directory | check --root /bin/sh | 2 | system directory",
        "wait_nan | run --root ROOT --wait nan | 2 | NaN is not",
        "wait_too_long | run --root ROOT --wait 3600.5 | 2 | more than 3600 seconds",
        "lock_timeout_hexadecimal | --lock-timeout 0x10 kill | 2 | hexadecimal",
        "no_command | | 2 | subcommand",
        "malformed_session | kill | 1 | malformed: line 2 | | printf 'corvane-host session "
        "1\\nx\\n' >s",
        "session_no_check_wrote | kill | 1 | holds no check's records | | : >s",
        "kill_without_a_session | kill | 1 | there is no session | mistyped | :",
        "session_is_a_pipe | check --root ROOT | 1 | is a pipe, not a session file | | mkfifo s",
        "session_is_a_directory | check --root ROOT | 1 | is a directory | corvane | :",
        "link_to_nothing | check --root ROOT | 1 | which does not exist | | ln -s missing s",
        "link_in_a_world_writable_directory | check --root ROOT | 1 | world-writable directory | "
        "shared/s | mkdir elsewhere shared && chmod 1707 shared && ln -s $PWD/elsewhere/s shared/s",
        "link_owned_by_another_user | check --root ROOT | 1 | owned by another user | | "
        ": >real && ln -s real s && chown -h nobody s"),
    [](const auto& info) { return harness::split(info.param, '|')[0]; });

// A user's empty session (as mktemp makes it), reached through a link, used by
// root, then by the user again.
TEST(session_file, a_safe_link_is_followed_and_owner_and_mode_are_kept) {
  const temp_tree tree;
  const std::string host = tree.add_built_host("build");
  const std::string root = tree.path() + "/corvane";
  fs::create_directories(root);
  const std::string home = tree.path() + "/home";
  fs::create_directory(home);
  harness::write_file(home + "/real", "");
  fs::create_symlink("real", home + "/session");
  const uid_t user = getpwnam("nobody")->pw_uid;
  ASSERT_EQ(chown(home.c_str(), user, static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(chown((home + "/real").c_str(), user, static_cast<gid_t>(-1)), 0);
  chmod((home + "/real").c_str(), 0640);
  std::vector<std::string> args = {host, "--session", home + "/session", "check", "--root", root};

  EXPECT_EQ(harness::run(args).status, 0);
  for (const std::string& file : {home + "/real", home + "/real.lock"}) {
    struct stat after {};
    lstat(file.c_str(), &after);
    EXPECT_EQ(std::make_tuple(after.st_uid, after.st_mode & 07777), std::make_tuple(user, 0640U))
        << file;
  }
  EXPECT_TRUE(fs::is_symlink(home + "/session"));
  EXPECT_FALSE(fs::exists(home + "/session.lock"));
  EXPECT_EQ(
      corvane_host::decode_session(harness::read_file(home + "/real")).values.at("CORVANE_PATH"),
      root);
  const auto as_user = harness::run(harness::as_user("nobody", "nogroup", args));
  EXPECT_EQ(as_user.status, 0) << as_user.err;
}

bool has_temporary(const std::string& directory) {
  return std::any_of(fs::directory_iterator(directory), fs::directory_iterator(),
                     [](const fs::directory_entry& entry) {
                       return entry.path().string().find(".corvane-tmp.") != std::string::npos;
                     });
}

TEST(session_file, a_save_killed_midway_leaves_no_lasting_temporary) {
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  session_t big;
  big.values["BIG"] = std::string(16 << 20, 'x');
  const std::string session = session_in(tree, corvane_host::encode_session(big));
  const std::vector<std::string> args = {
      CORVANE_HOST_FILE, "--session", session,  "--log",
      "/dev/null",       "check",     "--root", tree.path() + "/corvane"};
  int killed_midway = 0;
  for (int attempt = 0; attempt < 10 && killed_midway < 3; ++attempt) {
    const pid_t host = harness::start(args, tree.path() + "/out", tree.path() + "/err");
    while (!has_temporary(tree.path()) && waitpid(host, nullptr, WNOHANG) == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    killed_midway += kill(host, SIGKILL) == 0 && has_temporary(tree.path()) ? 1 : 0;
    harness::exit_status_of(host);
  }
  ASSERT_GT(killed_midway, 0) << "no save was caught in the middle";
  EXPECT_EQ(harness::run(args).status, 0);
  EXPECT_FALSE(has_temporary(tree.path()));
  EXPECT_TRUE(corvane_host::decode_session(harness::read_file(session)).values.at("BIG") ==
              big.values["BIG"]);
}

TEST(session_file, a_held_lock_is_waited_for_visibly_and_not_for_ever) {
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  const std::string session = session_in(tree, "corvane-host session 1\nA=1\n");
  const int lock = open((session + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  const auto run = run_host(
      {"--session", session, "--lock-timeout", "1.5", "check", "--root", tree.path() + "/corvane"});
  close(lock);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("waiting for the session lock " + session + ".lock, held by process " +
                         std::to_string(getpid())),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("gave up waiting"), std::string::npos) << run.err;
  EXPECT_EQ(harness::read_file(session), "corvane-host session 1\nA=1\n");
}

}  // namespace
