// SPDX-License-Identifier: MIT
// What belongs to the installation, on real processes: symbolic links, case,
// installers, replaced files, scripts, mount namespaces, the host itself and
// its callers, files in use, and what an ordinary user cannot see. Run in a
// private pid namespace, these tests see only their own processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <thread>

#include "host_harness.h"

namespace {

using harness::child;
using harness::run_host;
using harness::temp_tree;
namespace fs = std::filesystem;

// Whether this machine lets the test make namespaces (`unshare` with `flags`).
bool can_unshare(const std::string& flags) {
  return std::system(("/usr/bin/unshare " + flags + " true 2>/dev/null").c_str()) == 0;
}

TEST(installation, the_programs_that_run_its_files_and_nothing_else) {
  const temp_tree tree;
  const std::string root = tree.path() + "/opt/CorVane";
  fs::create_directory_symlink("opt", tree.path() + "/apps");  // the root is given through it
  const std::string program = tree.add_program("opt/CorVane/bin/Corvane");
  const std::string replaced = tree.add_program("opt/CorVane/bin/old");
  const std::string gui = tree.add_program("opt/CorVane/install_gui");
  harness::write_file(root + "/bin/relative", "sleep 1000\n");
  const std::string data = tree.add_program("opt/CorVane/share/data");

  std::list<child> ours;
  ours.emplace_back(program);
  ours.emplace_back(replaced);
  ours.emplace_back(
      std::vector<std::string>{"/bin/sh", "-c", "cd \"$0\" && exec sh ./relative", root + "/bin"},
      "sh");
  if (fs::exists("/lib64/ld-linux-x86-64.so.2")) {
    ours.emplace_back(std::vector<std::string>{"/lib64/ld-linux-x86-64.so.2", program, "1000"});
  }
  const child replaced_installer(gui);
  const child installer_binary(tree.add_program("opt/CorVane/tools/install.sh"));
  const child sibling(tree.add_program("opt/CorVane-old/bin/corvane"));
  const child other_case(tree.add_program("opt/CORVANE/bin/corvane"));
  const child user({"/bin/sh", "-c", "exec /bin/sleep 1000 <\"$0\"", data}, "/bin/sleep");
  const pid_t zombie = fork();  // a zombie runs no program: neither ours nor uninspected
  if (zombie == 0) {
    _exit(0);
  }
  for (const std::string& file : {replaced, gui}) {  // an upgrade replaces them
    fs::remove(file);
    (void)tree.add_program(fs::relative(file, tree.path()));
  }

  // The session inside the installation: the host holds it open, yet never lists itself.
  const auto run = run_host({"--json", "--session", root + "/session", "check", "--files-in-use",
                             "--root", tree.path() + "/apps/CorVane"});
  waitpid(zombie, nullptr, 0);
  ASSERT_EQ(run.status, 3) << run.err;
  std::vector<int> expected;
  for (const child& one : ours) {
    expected.push_back(one.pid());
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(run.pids(), expected);
  const auto check = run.json()["check"];
  EXPECT_EQ(check["root"], root + "/");
  EXPECT_EQ(check["uninspected"]["count"], 0);
  EXPECT_EQ(check["processes"][0]["command"], program);
  EXPECT_EQ(check["using_files"],
            nlohmann::json::parse(R"([{"pid": )" + std::to_string(user.pid()) +
                                  R"(, "program": "/usr/bin/sleep", "files": [{"path": ")" + data +
                                  R"("}]}])"));
  EXPECT_NE(run.err.find("corvane root: " + root + "\n"), std::string::npos) << run.err;
}

TEST(installation, a_containers_look_alike_is_left_alone_and_a_sandboxed_own_file_is_found) {
  if (!can_unshare("--mount")) {
    GTEST_SKIP() << "no mount namespaces here";
  }
  const temp_tree tree;
  const std::string ours = tree.add_program("corvane/bin/corvane");
  const std::string other = tree.add_program("container/sleep");
  // Private mount namespaces: one with `other` mounted over `ours`, one without.
  const auto in_namespace = [&ours](std::vector<std::string> argv) {
    argv.insert(argv.begin(),
                {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c"});
    return child(argv, ours);
  };
  const child look_alike =
      in_namespace({R"(mount --bind "$1" "$0" && exec "$0" 1000)", ours, other});
  const child sandboxed = in_namespace({R"(exec "$0" 1000)", ours});
  const auto run = run_host({"--json", "run", "--root", tree.path() + "/corvane"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.pids(), std::vector<int>{sandboxed.pid()});
  EXPECT_TRUE(look_alike.running());
}

TEST(installation, the_host_inside_it_and_an_updater_calling_the_host_are_left_alone) {
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string host = tree.add_built_host("corvane");
  const child other(tree.add_program("corvane/bin/corvane"));
  const std::string updater = root + "/bin/updater";
  harness::write_file(updater, "\"" + host + "\" run --root \"$1\" 2>/dev/null\n");
  const auto run = harness::run({"/bin/sh", updater, root});
  const std::string ours = std::to_string(other.pid()) + "  " + root + "/bin/corvane";
  EXPECT_EQ(run.out.substr(0, run.out.find("Left alone: ")),
            "1 corvane process(es) running from " + root + "/:\n  " + std::to_string(other.pid()) +
                "  root  " + root + "/bin/corvane\n");
  EXPECT_NE(run.out.find("  " + updater + " (it called this corvane-host)\nLeft alone: "),
            std::string::npos);
  EXPECT_NE(run.out.find("  " + host +
                         " (it is this corvane-host)\nCritical prerequisite raised: "
                         "yes\nSent SIGTERM to 1 process(es).\n  " +
                         ours + ": sent SIGTERM\nkill_corvane returned 0\n"),
            std::string::npos)
      << run.out;
}

// It ignores SIGTERM: while its other thread runs, it has not ended.
TEST(installation, a_program_whose_main_thread_exited_is_found_and_not_taken_for_ended) {
  const temp_tree tree;
  const std::string program = tree.path() + "/corvane/bin/leader";
  fs::create_directories(tree.path() + "/corvane/bin");
  fs::copy_file(THREAD_LEADER_FILE, program);
  child leader({program}, "", harness::sigterm_is::ignored);
  while (harness::read_file("/proc/" + std::to_string(leader.pid()) + "/stat").find(") Z") ==
         std::string::npos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto run =
      run_host({"--json", "run", "--root", tree.path() + "/corvane", "--wait", "0.5", "--force"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.outcomes(), (std::map<int, std::string>{{leader.pid(), "ended on SIGKILL"}}));
  EXPECT_FALSE(leader.ended_by_sigterm());  // reaped, by SIGKILL
}

TEST(installation, a_proc_of_another_pid_namespace_is_refused) {
  if (!can_unshare("--pid --fork")) {
    GTEST_SKIP() << "no pid namespaces here";
  }
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  const auto run = harness::run({"/usr/bin/unshare", "--pid", "--fork", CORVANE_HOST_FILE, "check",
                                 "--root", tree.path() + "/corvane"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("not this pid namespace's"), std::string::npos) << run.err;
}

}  // namespace
