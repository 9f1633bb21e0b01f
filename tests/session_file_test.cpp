// SPDX-License-Identifier: MIT
// The session file as scripts and other users leave it: owners and modes
// kept, links followed only where safe, no litter after a killed save, a
// bounded wait for a held lock. Real files, the built host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "host_harness.h"
#include "session.h"

namespace {

using harness::run_host;
using harness::temp_tree;
namespace fs = std::filesystem;

uid_t nobody() {
  const passwd* entry = getpwnam("nobody");
  return entry != nullptr ? entry->pw_uid : 65534;
}

std::vector<std::string> names_in(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct stat stat_of(const std::string& file) {
  struct stat result {};
  EXPECT_EQ(lstat(file.c_str(), &result), 0) << file;
  return result;
}

struct refusal {
  const char* name;
  std::function<std::string(const temp_tree&)> make;  // returns the --session path
  const char* command;
  const char* message;
};

void PrintTo(const refusal& c, std::ostream* out) { *out << c.name; }

class session_refusal : public testing::TestWithParam<refusal> {};

TEST_P(session_refusal, says_why_and_creates_nothing) {
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  const std::string session = GetParam().make(tree);
  const auto before = names_in(tree.path());
  std::vector<std::string> args = {"--session", session, GetParam().command};
  if (std::string(GetParam().command) == "check") {
    args.insert(args.end(), {"--root", tree.path() + "/corvane"});
  }
  const auto run = run_host(args);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  EXPECT_EQ(names_in(tree.path()), before);
  if (fs::is_directory(tree.path() + "/shared")) {
    EXPECT_TRUE(fs::is_empty(tree.path() + "/elsewhere")) << "written through the link";
  }
}

INSTANTIATE_TEST_SUITE_P(
    cases, session_refusal,
    testing::Values(refusal{"pipe",
                            [](const temp_tree& t) {
                              mkfifo((t.path() + "/s").c_str(), 0600);
                              return t.path() + "/s";
                            },
                            "check", "is a pipe, not a session file"},
                    refusal{"directory", [](const temp_tree& t) { return t.path() + "/corvane"; },
                            "check", "is a directory"},
                    refusal{"dangling_link_in_a_world_writable_directory",
                            [](const temp_tree& t) {
                              fs::create_directory(t.path() + "/shared");
                              fs::create_directory(t.path() + "/elsewhere");
                              chmod((t.path() + "/shared").c_str(),
                                    01707);  // writable by all, not by the group
                              fs::create_symlink(t.path() + "/elsewhere/s", t.path() + "/shared/s");
                              return t.path() + "/shared/s";
                            },
                            "check", "world-writable directory"},
                    refusal{"link_to_nothing",
                            [](const temp_tree& t) {
                              fs::create_symlink(t.path() + "/missing", t.path() + "/s");
                              return t.path() + "/s";
                            },
                            "check", "which does not exist"},
                    refusal{"link_owned_by_another_user",
                            [](const temp_tree& t) {
                              harness::write_file(t.path() + "/real", "");
                              fs::create_symlink(t.path() + "/real", t.path() + "/s");
                              lchown((t.path() + "/s").c_str(), nobody(), static_cast<gid_t>(-1));
                              return t.path() + "/s";
                            },
                            "check", "owned by another user"},
                    refusal{"kill_without_a_session",
                            [](const temp_tree& t) { return t.path() + "/mistyped"; }, "kill",
                            "there is no session"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(session_file, kill_on_a_session_that_no_check_wrote_is_an_error) {
  const temp_tree tree;
  const std::string session = tree.path() + "/s";
  harness::write_file(session, "");
  const auto run = run_host({"--session", session, "kill"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("holds no check's records"), std::string::npos) << run.err;
  EXPECT_EQ(harness::read_file(session), "");
}

// A user's empty session (as mktemp makes it), used by root, then by the user again.
TEST(session_file, keeps_owner_and_mode_so_the_user_can_go_on) {
  const temp_tree tree;
  chmod(tree.path().c_str(), 0755);
  const std::string host = harness::copy_built_host(tree.path() + "/build");
  const std::string root = tree.path() + "/corvane";
  const std::string home = tree.path() + "/home";
  fs::create_directories(root);
  fs::create_directory(home);
  const std::string session = home + "/session";
  harness::write_file(session, "");
  const uid_t user = nobody();
  ASSERT_EQ(chown(home.c_str(), user, static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(chown(session.c_str(), user, static_cast<gid_t>(-1)), 0);
  chmod(session.c_str(), 0640);
  const gid_t group = stat_of(session).st_gid;

  const auto as_root =
      run_host({"--session", session, "check", "--root", root}, {std::nullopt, host, {}});
  EXPECT_EQ(as_root.status, 0) << as_root.err;
  for (const std::string& file : {session, session + ".lock"}) {
    EXPECT_EQ(stat_of(file).st_uid, user) << file;
    EXPECT_EQ(stat_of(file).st_gid, group) << file;
    EXPECT_EQ(stat_of(file).st_mode & 07777, 0640U) << file;
  }
  EXPECT_EQ(corvane_host::decode_session(harness::read_file(session)).values.at("CORVANE_PATH"),
            root);

  const auto as_user = run_host({"--session", session, "check", "--root", root}, {user, host, {}});
  EXPECT_EQ(as_user.status, 0) << as_user.err;
}

TEST(session_file, a_safe_link_is_followed_and_locked_beside_its_target) {
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  const std::string target = tree.path() + "/real";
  harness::write_file(target, "");
  fs::create_symlink("real", tree.path() + "/link");
  const auto run =
      run_host({"--session", tree.path() + "/link", "check", "--root", tree.path() + "/corvane"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(tree.path() + "/link"));
  EXPECT_NE(harness::read_file(target).find("CORVANE_PATH="), std::string::npos);
  EXPECT_TRUE(fs::exists(target + ".lock"));
  EXPECT_FALSE(fs::exists(tree.path() + "/link.lock"));
}

bool has_temporary(const std::string& directory) {
  const std::vector<std::string> names = names_in(directory);
  return std::any_of(names.begin(), names.end(), [](const std::string& name) {
    return name.find(".corvane-tmp.") != std::string::npos;
  });
}

TEST(session_file, a_save_killed_midway_leaves_no_lasting_temporary) {
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  const std::string session = tree.path() + "/s";
  session_t big;
  big.values["BIG"] = std::string(16 << 20, 'x');
  harness::write_file(session, corvane_host::encode_session(big));
  const std::vector<std::string> args = {
      "--session", session, "--log", "/dev/null", "check", "--root", tree.path() + "/corvane"};
  int killed_midway = 0;
  for (int attempt = 0; attempt < 10 && killed_midway < 3; ++attempt) {
    const pid_t host = harness::start_host(args, tree.path() + "/out", tree.path() + "/err");
    while (!has_temporary(tree.path()) && waitpid(host, nullptr, WNOHANG) == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    killed_midway += kill(host, SIGKILL) == 0 && has_temporary(tree.path()) ? 1 : 0;
    harness::exit_status_of(host);
  }
  ASSERT_GT(killed_midway, 0) << "no save was caught in the middle";
  const auto run = run_host(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(has_temporary(tree.path()));
  EXPECT_EQ(corvane_host::decode_session(harness::read_file(session)).values.at("BIG"),
            big.values["BIG"]);
}

TEST(session_file, a_held_lock_is_waited_for_visibly_and_not_for_ever) {
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  const std::string session = tree.path() + "/s";
  harness::write_file(session, "corvane-host session 1\nA=1\n");
  const int lock = open((session + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  const auto run = run_host(
      {"--session", session, "--lock-timeout", "1.5", "check", "--root", tree.path() + "/corvane"});
  close(lock);
  EXPECT_EQ(run.status, 1);
  const std::string holder = "held by process " + std::to_string(getpid());
  EXPECT_NE(run.err.find("waiting for the session lock " + session + ".lock, " + holder),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("gave up waiting"), std::string::npos) << run.err;
  EXPECT_EQ(harness::read_file(session), "corvane-host session 1\nA=1\n");
}

}  // namespace
