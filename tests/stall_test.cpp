// SPDX-License-Identifier: MIT
// A check beside a file system that never answers (tests/stalled_fuse.cpp): a shell whose
// script name leads into an overlay stacked on a FUSE mount whose server has gone silent.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <optional>
#include <stdexcept>

#include "base/reasons.h"
#include "host_harness.h"

namespace {

using namespace harness;

// A user's, in the user's own namespaces, is never looked into: the shell is passed over at once.
// Root's own overlay is looked into, and the lookup given up within the bound: the shell is counted
// with that reason, and the FUSE mount inside the installation left out of its index.
TEST(stalled_file_system, a_users_is_never_entered_and_roots_own_is_given_up_in_time) {
  SKIP_WHERE(not_root());
  SKIP_WHERE(no_private_pid_namespace());
  struct stat fuse {};
  SKIP_WHERE(stat("/dev/fuse", &fuse) == 0 && S_ISCHR(fuse.st_mode) ? "" : "needs /dev/fuse");
  for (const bool users : {true, false}) {
    SCOPED_TRACE(users ? "a user's" : "root's own");
    const temp_tree tree;
    const std::string root = tree.add_directory("corvane");
    const std::string script = tree.add_file("scripts/run.sh", "echo started\nread line\n");
    const std::string scripts = script.substr(0, script.rfind('/'));
    const std::string device = tree.path() + "/fuse";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, fuse.st_rdev), 0);
    ASSERT_EQ(chmod(device.c_str(), 0666), 0);
    ASSERT_EQ(chmod(tree.path().c_str(), 0755), 0);
    std::vector<std::string> argv = {
        harness::stalled_fuse_file,         users ? "own" : "here",      device,
        tree.add_directory("corvane/data"), tree.add_directory("lower"), scripts};
    if (users) {
      argv.insert(argv.begin(), {"/usr/bin/unshare", "-Ur"});
      argv = as_user("nobody", "nogroup", argv);
    }
    std::optional<child> server;
    try {
      server.emplace(argv, "ready");
    } catch (const std::runtime_error&) {
      GTEST_SKIP() << "cannot mount FUSE and an overlay on it here";
    }
    // Ended by force after ten seconds (status 137), as a hung check would be.
    const host_run check = run({"/usr/bin/timeout", "-s", "KILL", "10", host_file, "--json",
                                "--fs-timeout", "2", "check", "--root", root});
    server.reset();  // its end aborts the connection, and what waits on it fails
    umount2(scripts.c_str(), MNT_DETACH);
    umount2((root + "/data").c_str(), MNT_DETACH);
    ASSERT_NE(check.status, 137) << "the check did not end";
    const auto report = check.json()["check"];
    if (users) {
      EXPECT_EQ(check.status, 0) << check.out;
      EXPECT_EQ(report["uninspected"]["count"], 0);
    } else {
      EXPECT_EQ(check.status, 5) << check.out;
      EXPECT_EQ(report["uninspected"]["reasons"][corvane_host::words_of(
                    corvane_host::reason{corvane_host::why::file_system_stalled})],
                1);
      EXPECT_EQ(report["index"]["mounts_left_out"][0]["path"], root + "/data");
    }
  }
}

}  // namespace
