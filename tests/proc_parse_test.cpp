// SPDX-License-Identifier: MIT
// Understanding /proc text: captured files, and names a process chose to confuse a parser.
#include <gtest/gtest.h>

#include "proc_parse.h"

namespace {

using corvane_host::parse_cgroup;
using corvane_host::parse_cmdline;
using corvane_host::parse_exe_link;
using corvane_host::parse_stat;
using corvane_host::parse_status;

// A /proc/PID/stat line with `name` in the parentheses: state T, parent 3390,
// start time 41774 (field 22), and fields 5 to 21 all different from it.
std::string stat_line(const std::string& name) {
  return "3392 (" + name +
         ") T 3390 3391 1236 0 -1 4194304 101 0 0 0 7 8 0 0 20 0 1 0 41774 3133440 416 "
         "18446744073709551615 94492564897792 0 0 17 0 0 0 0 0 0\n";
}

TEST(parse_stat, reads_state_parent_and_start_time_after_the_last_parenthesis) {
  for (const std::string name : {"sleep", "a) R 1 (b", "two words", ")", "", "x\ny"}) {
    const auto fields = parse_stat(stat_line(name));
    ASSERT_TRUE(fields) << name;
    EXPECT_EQ(fields->state, 'T') << name;
    EXPECT_EQ(fields->parent, 3390) << name;
    EXPECT_EQ(fields->start_time, 41774U) << name;
    EXPECT_EQ(fields->flags, 4194304U) << name;
    EXPECT_FALSE(fields->kernel_thread()) << name;
  }
}

TEST(parse_stat, tells_a_kernel_thread_by_its_flags) {
  const auto kthread =
      parse_stat("2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 0 0 0 20 0 1 0 5 0 0\n");
  ASSERT_TRUE(kthread);
  EXPECT_TRUE(kthread->kernel_thread());
}

TEST(parse_stat, refuses_what_is_not_a_stat_line) {
  for (const std::string text :
       {"", "3392 (cat", "3392 (cat) R", "3392 (cat) R x 1", "3392 (cat) R 1 2 3",
        "3392 (cat) RR 3390 3390 1236 0 -1 4194304 101 0 0 0 0 0 0 0 20 0 1 0 41774"}) {
    EXPECT_FALSE(parse_stat(text)) << text;
  }
}

TEST(parse_status, reads_state_sigterm_masks_and_the_uid_line_only) {
  const std::string text =
      "Name:\tcorvane\nUmask:\t0022\nState:\tT "
      "(stopped)\nTgid:\t77\nPid:\t77\nPPid:\t1\nNSpid:\t77\n"
      "Uid:\t1000\t1001\t1002\t1003\nGid:\t2000\t2001\t2002\t2003\nSigQ:\t0/96367\n"
      "SigPnd:\t0000000000004000\nShdPnd:\t0000000000004000\nSigBlk:\t0000000000000000\n"
      "SigIgn:\t0000000000004000\nSigCgt:\t0000000000000000\n";
  const auto status = parse_status(text);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->state, 'T');
  EXPECT_EQ(status->real_uid, 1000U);
  EXPECT_EQ(status->effective_uid, 1001U);
  EXPECT_EQ(status->saved_uid, 1002U);
  EXPECT_TRUE(status->ignores_sigterm);  // bit 15 of SigIgn
  EXPECT_FALSE(status->namespace_init);
  EXPECT_FALSE(status->blocks_sigterm);  // pending, not blocked

  const auto blocking = parse_status(
      "State:\tS (sleeping)\nUid:\t0\t0\t0\t0\nSigBlk:\t4000\nSigCgt:\t4000\nNSpid:\t812\t1\n");
  ASSERT_TRUE(blocking);
  EXPECT_TRUE(blocking->blocks_sigterm);
  EXPECT_FALSE(blocking->ignores_sigterm);
  EXPECT_TRUE(blocking->handles_sigterm);
  EXPECT_TRUE(blocking->namespace_init);
  EXPECT_FALSE(parse_status("State:\tS (sleeping)\nSigBlk:\t0000000000002000\nUid:\t0\t0\t0\t0\n")
                   ->blocks_sigterm);  // bit 14: SIGALRM

  for (const char* text : {"", "State:\tS\n", "Uid:\t0\t0\t0\t0\n", "State:\tS\nUid:\t0\tx\t0\n"}) {
    EXPECT_FALSE(parse_status(text)) << text;
  }
}

TEST(parse_cmdline, splits_on_nul_bytes) {
  using args = std::vector<std::string>;
  const std::vector<std::pair<std::string, args>> cases = {
      {std::string("/bin/sh\0-c\0echo hi\0", 19), {"/bin/sh", "-c", "echo hi"}},
      {std::string("no nul at the end"), {"no nul at the end"}},
      {std::string("a\0\0b\0", 5), {"a", "", "b"}},
      {"", {}}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(parse_cmdline(text), expected) << testing::PrintToString(text);
  }
}

TEST(parse_exe_link, removes_the_deleted_mark_and_says_so) {
  const auto replaced = parse_exe_link("/opt/corvane/bin/corvane (deleted)");
  EXPECT_EQ(replaced.path, "/opt/corvane/bin/corvane");
  EXPECT_TRUE(replaced.deleted);
  const auto plain = parse_exe_link("/opt/corvane/bin/corvane");
  EXPECT_EQ(plain.path, "/opt/corvane/bin/corvane");
  EXPECT_FALSE(plain.deleted);
  EXPECT_EQ(parse_exe_link(" (deleted)").path, " (deleted)");  // a name, not a mark
}

TEST(service_of_cgroup, names_services_of_the_system_and_of_users_only) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/system.slice/corvane.service", "corvane.service"},
      {"/user.slice/user-1000.slice/user@1000.service/app.slice/corvane-agent.service",
       "corvane-agent.service"},
      {"/user.slice/user-1000.slice/user@1000.service/init.scope", ""},
      {"/user.slice/user-1000.slice/user@1000.service", ""},
      {"/user.slice/user-1000.slice/session-3.scope", ""},
      {"/system.slice/docker-4f2a.scope", ""},
      {"/machine.slice", ""},
      {"/", ""}};
  for (const auto& [path, unit] : cases) {
    EXPECT_EQ(corvane_host::service_of_cgroup(path), unit) << path;
  }
}

TEST(parse_cgroup, takes_the_unified_hierarchy_line) {
  EXPECT_EQ(parse_cgroup("0::/system.slice/corvane.service\n"), "/system.slice/corvane.service");
  EXPECT_EQ(parse_cgroup("4:memory:/a\n1:name=systemd:/b\n0::/user.slice/x.scope\n"),
            "/user.slice/x.scope");
  EXPECT_EQ(parse_cgroup("4:memory:/a\n"), "");
}

TEST(parse_lock_holder, finds_the_holder_of_this_file_and_skips_waiters) {
  const std::string locks =
      "1: POSIX  ADVISORY  WRITE 900 fd:01:5678 0 EOF\n"
      "2: FLOCK  ADVISORY  WRITE 1234 00:2f:5678 0 EOF\n"
      "2: -> FLOCK  ADVISORY  WRITE 4321 00:2f:5678 0 EOF\n";
  EXPECT_EQ(corvane_host::parse_lock_holder(locks, 0, 0x2f, 5678), 1234);
  EXPECT_EQ(corvane_host::parse_lock_holder(locks, 0xfd, 1, 5678), 900);
  EXPECT_EQ(corvane_host::parse_lock_holder(locks, 0, 0x2f, 5679), std::nullopt);
  EXPECT_EQ(corvane_host::parse_lock_holder("", 0, 0, 0), std::nullopt);
}

TEST(parse_maps_files, names_each_mapped_file_once) {
  const std::string maps =
      "55d0c000-55d0d000 r--p 00000000 fd:01 1234  /opt/corvane/bin/corvane\n"
      "55d0d000-55d0e000 r-xp 00001000 fd:01 1234  /opt/corvane/bin/corvane\n"
      "7f00-7f01 rw-p 00000000 00:00 0 \n"
      "7f01-7f02 r--p 00000000 fd:01 99   /opt/corvane/lib/with blank.so (deleted)\n"
      "7ffd-7ffe rw-p 00000000 00:00 0    [stack]\n";
  EXPECT_EQ(
      corvane_host::parse_maps_files(maps),
      (std::vector<std::string>{"/opt/corvane/bin/corvane", "/opt/corvane/lib/with blank.so"}));
}

}  // namespace
