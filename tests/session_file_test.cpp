// SPDX-License-Identifier: MIT
// The command line and the session file as scripts and other users leave them: bad input
// refused with one clear message and nothing changed, owners and modes kept, links followed
// only where safe, no litter after a killed save, a bounded wait for a held lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <climits>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "base/unique_fd.h"
#include "files/session.h"
#include "host_harness.h"

namespace {

using harness::run_host;
using harness::temp_tree;
namespace fs = std::filesystem;

// Every entry under `directory`: owner, mode, size and a hash of a small file's bytes.
std::map<std::string, std::string> snapshot(const std::string& directory) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    struct stat status {};
    lstat(entry.path().c_str(), &status);
    const bool small = S_ISREG(status.st_mode) && status.st_size < (1 << 20);
    entries[entry.path()] =
        std::to_string(status.st_uid) + " " + std::to_string(status.st_mode) + " " +
        std::to_string(status.st_size) + " " +
        std::to_string(small ? std::hash<std::string>{}(harness::read_file(entry.path())) : 0);
  }
  return entries;
}

// Runs `command` in the tree's directory as root; in it, $user runs a command as nobody.
int shell_in(const temp_tree& tree, const std::string& command) {
  const std::string user = "user='setpriv --reuid=nobody --regid=nogroup --clear-groups'";
  return std::system(("cd '" + tree.path() + "' && " + user + " && " + command).c_str());
}

// A tree any user may enter, with u/ of the user nobody, sticky/ that anyone
// may write (as /tmp), and target/ of root's holding root's setuid file precious.
void hostile_layout(const temp_tree& tree) {
  ASSERT_EQ(shell_in(tree,
                     "chmod 755 . && mkdir u sticky target && chmod 1777 sticky && "
                     "printf precious >target/precious && chmod 4755 target/precious && "
                     "{ [ \"$(id -u)\" != 0 ] || chown nobody: u; }"),
            0);
}

class refused : public testing::TestWithParam<const char*> {};

// A row: its name | the arguments after --session FILE, ROOT standing for the installation and TREE
// for the tree | the exit status | the message | FILE, in the tree (by default s) | a shell command
// that makes it, run in the tree as root, $user acting as another user (by default, a session that
// records the running program, whose ID is $pid). The message, whole, is the first line said (after
// "corvane-host: "; TREE for the tree). Nothing changes, quickly.
TEST_P(refused, with_one_clear_message_and_nothing_changed) {
  std::vector<std::string> row = harness::split(GetParam(), '|');
  row.resize(6);
  if (row[5].find("$user") != std::string::npos || row[5].find("chown") != std::string::npos ||
      row[5].find("ln target") != std::string::npos) {
    SKIP_WHERE(harness::not_root());
  }
  SKIP_WHERE(harness::no_private_pid_namespace());  // where a refusal fails, kill would signal
  const temp_tree tree;
  const harness::child corvane(tree.add_program("corvane/bin/corvane"));
  hostile_layout(tree);
  const std::string make =
      row[5].empty() ? "printf 'corvane-host session 1\\nRUNNING_PROC_LIST=%s\\n' $pid >s" : row[5];
  ASSERT_EQ(shell_in(tree, "pid=" + std::to_string(corvane.pid()) + " && " + make), 0);
  const auto before = snapshot(tree.path());
  std::vector<std::string> args = {"--session",
                                   tree.path() + "/" + (row[4].empty() ? "s" : row[4])};
  for (const std::string& arg : harness::split(row[1], ' ')) {
    args.push_back(arg == "ROOT"                ? tree.path() + "/corvane"
                   : arg == "LONG"              ? std::string(PATH_MAX, 'a')
                   : arg == "EMPTY"             ? ""
                   : arg.rfind("TREE/", 0) == 0 ? tree.path() + arg.substr(4)
                                                : arg);
  }
  const auto start = std::chrono::steady_clock::now();
  const auto run = run_host(args);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(run.status, std::stoi(row[2])) << run.err;
  std::string said = run.err.substr(0, run.err.find('\n'));
  said.erase(0, said.rfind("corvane-host: ", 0) == 0 ? 14 : 0);
  for (std::size_t at; (at = said.find(tree.path())) != std::string::npos;) {
    said.replace(at, tree.path().size(), "TREE");
  }
  EXPECT_EQ(said, row[3]) << run.err;
  EXPECT_EQ(run.err.find("corvane_killer:"), std::string::npos) << "the plug-in ran";
  EXPECT_EQ(snapshot(tree.path()), before);
  EXPECT_TRUE(corvane.running());
}

INSTANTIATE_TEST_SUITE_P(
    cases, refused,
    testing::Values(
        "missing_plugin | --plugin /nonexistent.so kill | 1 | cannot load the plug-in: "
        "/nonexistent.so: cannot open shared object file: No such file or directory",
        "plugin_without_entry_points | --plugin libm.so.6 kill | 1 | libm.so.6 is not a "
        "corvane-kill plug-in: it has no entry point check_running_corvane",
        "root_missing | check --root /nonexistent/corvane | 2 | --root /nonexistent/corvane: No "
        "such file or directory",
        "root_empty | check --root EMPTY | 2 | --root is empty",
        "root_huge | check --root LONG | 2 | --root is 4096 bytes long; a path has at most 4095",
        "root_with_a_line_feed | check --root /tmp\nx | 2 | --root holds a control character",
        "root_selects_everything | run --root / | 2 | --root / (/) cannot be an installation: it "
        "would select every process on this machine",
        "root_in_a_system_directory | check --root /bin/sh | 2 | --root /bin/sh (/usr/bin/) cannot "
        "be an installation: it is a system directory: its programs are the system's",
        "wait_nan | run --root ROOT --wait nan | 2 | --wait: NaN is not a number of seconds; give "
        "plain decimal seconds, such as 30 or 0.5",
        "wait_too_long | run --root ROOT --wait 3600.5 | 2 | --wait: 3600.5 is more than 3600 "
        "seconds",
        "lock_timeout_hexadecimal | --lock-timeout 0x10 kill | 2 | --lock-timeout: 0x10 is "
        "hexadecimal; give plain decimal seconds, such as 30 or 0.5",
        "no_command | | 2 | A subcommand is required",
        "malformed_session | kill | 1 | the session TREE/s is malformed: line 2: no \"=\" | | "
        "printf 'corvane-host session 1\\nx\\n' >s",
        "not_a_session | kill | 1 | the session TREE/s is malformed: not a corvane-host session "
        "(the first line is not \"corvane-host session 1\") | | printf 'x\\n' >s",
        "session_no_check_wrote | kill | 1 | the session TREE/s holds no check's records: run "
        "check with it first | | : >s",
        "session_of_16_mib | kill | 1 | the session TREE/s holds no check's records: run check "
        "with it first | | printf 'corvane-host session 1\\nB=' >s && truncate -s 16777215 s && "
        "echo >>s",
        "kill_without_a_session | kill | 1 | there is no session TREE/mistyped: kill ends what a "
        "check recorded there; run check with it first | mistyped | :",
        "session_is_a_pipe | check --root ROOT | 1 | the session TREE/s is a pipe, not a regular "
        "file | | mkfifo s",
        "session_is_a_directory | check --root ROOT | 1 | the session TREE/corvane is a directory, "
        "not a regular file | corvane | :",
        "link_to_nothing_through_a_link | check --root ROOT | 1 | the session TREE/s is a symbolic "
        "link to TREE/d/missing, which does not exist | | mkdir d && ln -s d dl && ln -s "
        "dl/missing s",
        "link_to_a_device | check --root ROOT | 1 | the session /dev/zero is a device, not a "
        "regular file | | ln -s /dev/zero s",
        "links_in_a_cycle | check --root ROOT | 1 | the session TREE/s: Too many levels of "
        "symbolic links | | ln -s t s && ln -s s t",
        "link_in_a_world_writable_directory | check --root ROOT | 1 | the session TREE/sticky/s is "
        "a symbolic link in a world-writable directory; name its target instead | sticky/s | ln -s "
        "$PWD/target/precious sticky/s",
        "link_owned_by_another_user | check --root ROOT | 1 | the session TREE/s is a symbolic "
        "link owned by another user; name its target instead | | ln -s target/precious s && chown "
        "-h nobody s",
        "users_link_in_a_component | check --root ROOT | 1 | the session TREE/u/link is a symbolic "
        "link owned by another user; name its target instead | u/link/s | $user ln -s ../target "
        "u/link",
        "users_link_in_a_sticky_component | check --root ROOT | 1 | the session TREE/sticky/link "
        "belongs to uid 65534, in a directory that is not root's alone and not theirs; refused | "
        "sticky/link/s | $user ln -s ../target sticky/link",
        "another_users_session_in_a_sticky_directory | check --root ROOT | 1 | the session "
        "TREE/sticky/s belongs to uid 65534, in a directory that is not root's alone and not "
        "theirs; refused | sticky/s | $user touch sticky/s",
        "hard_linked_session | check --root ROOT | 1 | the session TREE/u/s has 2 links; only a "
        "file with one name is used | u/s | ln target/precious u/s",
        "sparse_4_gib_session | check --root ROOT | 1 | the session TREE/u/s holds more than the "
        "16 MiB a session may hold; it is 4294967296 bytes and was not read | u/s | $user truncate "
        "-s 4G u/s",
        "log_through_a_users_link | --log TREE/u/log check --root ROOT | 1 | the log TREE/u/log is "
        "a symbolic link owned by another user; name its target instead | | $user ln -s "
        "../target/log u/log",
        "log_is_a_pipe | --log TREE/u/log check --root ROOT | 1 | the log TREE/u/log is a pipe, "
        "not a regular file | | $user mkfifo u/log",
        "log_is_a_device | --log /dev/zero check --root ROOT | 1 | the log /dev/zero is a device, "
        "not a regular file | | :",
        "log_hard_linked | --log TREE/u/log check --root ROOT | 1 | the log TREE/u/log has 2 "
        "links; only a file with one name is used | | ln target/precious u/log"),
    [](const auto& info) { return harness::split(info.param, '|')[0]; });

// The home of the user who runs the host, and of the user behind sudo (man's here), is refused.
TEST(refused_root, the_calling_users_home) {
  SKIP_WHERE(harness::not_root());
  for (auto as : {std::vector<std::string>{"/usr/bin/env", "SUDO_USER=man"},
                  harness::as_user("man", "man", {})}) {
    as.insert(as.end(), {harness::host_file, "check", "--root", "/var/cache/man"});
    EXPECT_EQ(harness::run(as).err,
              "corvane-host: --root /var/cache/man (/var/cache/man/) cannot be an installation: "
              "it is a user's home directory: its programs are the user's own\n");
  }
}

// A user's session used by root. Reached through root's link, setgid, beside a lock and a temporary
// that are hard links to root's setuid file: used by root, then by the user again, it keeps the
// user's owner and its mode less setgid, and nothing is handed over. Its directory swapped by the
// user for a link to root's after the host read it (the host then waits for a process whose SIGTERM
// is blocked): the save goes to the directory that was read, never to root's.
TEST(session_file, a_users_session_stays_the_users_and_is_saved_where_it_was_read) {
  SKIP_WHERE(harness::no_private_pid_namespace());
  SKIP_WHERE(harness::not_root());
  const temp_tree tree;
  const std::string host = tree.add_built_host("build");
  hostile_layout(tree);
  const std::string root = tree.add_directory("corvane");
  const std::string u = tree.path() + "/u";
  const uid_t user = getpwnam("nobody")->pw_uid;
  ASSERT_EQ(shell_in(tree,  // a third user's temporary is theirs
                     "cd u && : >real && chown nobody real && chmod 2640 real && "
                     "ln -s real session && ln ../target/precious real.lock && "
                     "ln ../target/precious real.corvane-tmp.AAAAAA && "
                     ": >real.corvane-tmp.BBBBBB && chown 1:1 real.corvane-tmp.BBBBBB"),
            0);
  const auto before = snapshot(tree.path() + "/target");
  std::vector<std::string> args = {host, "--session", u + "/session", "check", "--root", root};
  const auto first = harness::run(args);
  EXPECT_EQ(first.status, 0) << first.err;
  struct stat after {};
  lstat((u + "/real").c_str(), &after);
  EXPECT_EQ(std::make_tuple(after.st_uid, after.st_mode & 07777), std::make_tuple(user, 0640U));
  EXPECT_EQ(snapshot(tree.path() + "/target"), before);
  EXPECT_TRUE(fs::is_symlink(u + "/session"));
  EXPECT_TRUE(fs::exists(u + "/real.corvane-tmp.BBBBBB"));
  EXPECT_EQ(corvane_host::decode_session(harness::read_file(u + "/real")).values.at("CORVANE_PATH"),
            root);
  const auto as_user = harness::run(harness::as_user("nobody", "nogroup", args));
  EXPECT_EQ(as_user.status, 0) << as_user.err;
  EXPECT_EQ(snapshot(tree.path() + "/target"), before);
  EXPECT_FALSE(fs::exists("/run/corvane-host")) << "the locks' directory goes with the last";
  const harness::child corvane(tree.add_program("corvane/bin/corvane"),
                               harness::sigterm_is::blocked);
  ASSERT_EQ(shell_in(tree, "$user mkdir u/dir && $user touch u/dir/s"), 0);
  const pid_t running =
      harness::start({host, "--session", u + "/dir/s", "run", "--root", root, "--wait", "30"},
                     "/dev/null", "/dev/null");
  ASSERT_TRUE(harness::eventually_holds(corvane.pid(), "status", "ShdPnd:\t0000000000004000"));
  ASSERT_EQ(shell_in(tree, "$user mv u/dir u/old && $user ln -s ../target u/dir"), 0);
  // Meanwhile its lock file in /run (the session is readable by others) is replaced: not its own.
  const std::string lock = fs::directory_iterator("/run/corvane-host")->path();
  harness::write_file(lock + ".new", "");
  fs::rename(lock + ".new", lock);
  kill(corvane.pid(), SIGKILL);
  harness::exit_status_of(running);
  EXPECT_TRUE(fs::exists(lock)) << "another's lock file removed";
  EXPECT_EQ(snapshot(tree.path() + "/target"), before);
  EXPECT_EQ(
      corvane_host::decode_session(harness::read_file(u + "/old/s")).values.at("CORVANE_PATH"),
      root);
}

bool has_temporary(const std::string& directory) {
  return std::any_of(fs::directory_iterator(directory), fs::directory_iterator(),
                     [](const fs::directory_entry& entry) {
                       return entry.path().string().find(".corvane-tmp.") != std::string::npos;
                     });
}

// The lock is the session file: its owner makes root wait, visibly and not for ever; a
// user who may only read root's file holds its lock in vain.
TEST(session_file, only_the_sessions_owner_can_make_root_wait) {
  SKIP_WHERE(harness::no_private_pid_namespace());
  SKIP_WHERE(harness::not_root());
  for (const bool owner : {true, false}) {
    const temp_tree tree;
    hostile_layout(tree);
    const std::string session = tree.add_file("s", "corvane-host session 1\nA=1\n");
    chmod(session.c_str(), owner ? 0600 : 0644);
    const corvane_host::unique_fd mine(open(session.c_str(), O_RDONLY | O_CLOEXEC));
    std::optional<harness::child> user;
    if (owner) {
      ASSERT_EQ(flock(mine.get(), LOCK_SH), 0);
    } else {
      user.emplace(harness::as_user("nobody", "nogroup",
                                    {"/usr/bin/flock", "-s", session, "/bin/sleep", "1000"}),
                   "/usr/bin/flock");
      ASSERT_TRUE(harness::eventually([&mine] {  // until the user holds it
        return flock(mine.get(), LOCK_EX | LOCK_NB) != 0 || flock(mine.get(), LOCK_UN) != 0;
      }));
    }
    const auto start = std::chrono::steady_clock::now();
    const auto run = run_host({"--session", session, "--lock-timeout", "1.5", "check", "--root",
                               tree.add_directory("corvane")});
    const bool waited = std::chrono::steady_clock::now() - start > std::chrono::seconds(1);
    EXPECT_EQ(std::make_tuple(run.status, waited), std::make_tuple(owner ? 1 : 0, owner))
        << run.err;
    if (owner) {
      const std::string waiting = "waiting for the lock on the session " + session +
                                  ", held by process " + std::to_string(getpid());
      EXPECT_NE(run.err.find(waiting), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find(waiting), run.err.rfind(waiting)) << "said once";
      EXPECT_NE(run.err.find("gave up waiting"), std::string::npos) << run.err;
      EXPECT_EQ(harness::read_file(session), "corvane-host session 1\nA=1\n");
    }
  }
}

// A new log or session is root's alone, an existing log is appended to, "-" is standard
// error and /dev/stdout standard output; a host started with standard input closed works; a
// save killed midway leaves no lasting temporary.
TEST(session_file, new_files_are_private_logs_appended_to_and_killed_saves_leave_no_temporary) {
  SKIP_WHERE(harness::no_private_pid_namespace());
  const temp_tree tree;
  const std::string root = tree.add_directory("corvane");
  const std::string log = tree.path() + "/log";
  const std::string session = tree.path() + "/s";
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(run_host({"--log", log, "--session", session, "check", "--root", root}).status, 0);
  }
  for (const std::string& file : {log, session}) {
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << file;
  }
  const std::string text = harness::read_file(log);
  const std::string line = "corvane_killer: check_running_corvane entered\n";
  EXPECT_EQ(text.find(line), text.rfind(line) - text.size() / 2) << text;
  EXPECT_NE(run_host({"--log", "-", "check", "--root", root}).err.find(line), std::string::npos);
  EXPECT_NE(run_host({"--log", "/dev/stdout", "check", "--root", root}).out.find(line),
            std::string::npos);
  const auto closed =
      harness::run({"/bin/sh", "-c", "exec \"$0\" --log /dev/null check --root \"$1\" <&-",
                    harness::host_file, root});
  EXPECT_EQ(closed.status, 0) << closed.err;
  session_t big{{{"BIG", std::string(15 << 20, 'x')}}};
  harness::write_file(session, corvane_host::encode_session(big));
  const std::vector<std::string> args = {harness::host_file, "--session", session,  "--log",
                                         "/dev/null",        "check",     "--root", root};
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

}  // namespace
