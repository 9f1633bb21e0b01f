// SPDX-License-Identifier: MIT
// What belongs to the installation, on real processes: symbolic links,
// mount namespaces, scripts, the host itself and its callers, another
// directory of another case, files in use, and what an ordinary user cannot
// see. Run in a private pid namespace, these tests see only their own
// processes.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "host_harness.h"

namespace {

using harness::child;
using harness::launch;
using harness::pids_of;
using harness::run_host;
using harness::temp_tree;
namespace fs = std::filesystem;

launch command(std::vector<std::string> argv, std::string ready_argv0 = "") {
  launch what;
  what.argv = std::move(argv);
  what.ready_argv0 = std::move(ready_argv0);
  return what;
}

std::string write_script(const std::string& file, const std::string& body) {
  fs::create_directories(fs::path(file).parent_path());
  harness::write_file(file, "#!/bin/sh\n" + body);
  fs::permissions(file, fs::perms::owner_all);
  return file;
}

struct symlinked_root {
  const char* name;
  const char* installed_at;  // where the program really lies
  const char* link;          // a link ...
  const char* link_target;   // ... to this
  const char* root;          // the --root given
};

void PrintTo(const symlinked_root& c, std::ostream* out) { *out << c.name; }

class symlinked : public testing::TestWithParam<symlinked_root> {};

TEST_P(symlinked, root_is_found_as_the_kernel_names_it) {
  const temp_tree tree;
  const std::string program =
      tree.add_program(std::string(GetParam().installed_at) + "/bin/corvane");
  fs::create_directory_symlink(tree.path() + "/" + GetParam().link_target,
                               tree.path() + "/" + GetParam().link);
  const child running(program);
  const auto run = run_host({"--json", "check", "--root", tree.path() + "/" + GetParam().root});
  ASSERT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(pids_of(run.json()["check"]["processes"]), std::vector<int>{running.pid()});
  EXPECT_NE(run.err.find("corvane root: " + tree.path() + "/" + GetParam().installed_at + "\n"),
            std::string::npos)
      << run.err;
}

INSTANTIATE_TEST_SUITE_P(cases, symlinked,
                         testing::Values(symlinked_root{"current_version", "corvane-2.3", "corvane",
                                                        "corvane-2.3", "corvane"},
                                         symlinked_root{"parent", "opt/corvane", "apps", "opt",
                                                        "apps/corvane"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A private mount namespace in which `mounted` stands at `at`, running it.
launch in_mount_namespace(const std::string& at, const std::string& mounted) {
  const std::string script =
      mounted.empty() ? R"(exec "$1" 1000)" : R"(mount --bind "$2" "$1" && exec "$1" 1000)";
  return command({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                  script, "sh", at, mounted},
                 at);
}

// Whether this machine lets the test make namespaces (`unshare` with `flags`).
bool can_unshare(const std::string& flags) {
  return std::system(("/usr/bin/unshare " + flags + " true 2>/dev/null").c_str()) == 0;
}

TEST(installation, a_containers_look_alike_is_left_alone_and_a_sandboxed_own_file_is_found) {
  if (!can_unshare("--mount")) {
    GTEST_SKIP() << "no mount namespaces here";
  }
  const temp_tree tree;
  const std::string ours = tree.add_program("corvane/bin/corvane");
  const std::string other = tree.add_program("container/sleep");
  fs::copy_file("/bin/true", other, fs::copy_options::overwrite_existing);
  fs::copy_file("/bin/sleep", other, fs::copy_options::overwrite_existing);
  const child look_alike(in_mount_namespace(ours, other));
  const child sandboxed(in_mount_namespace(ours, ""));
  const auto run = run_host({"--json", "run", "--root", tree.path() + "/corvane"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(pids_of(run.json()["check"]["processes"]), std::vector<int>{sandboxed.pid()});
  EXPECT_TRUE(look_alike.running());
}

TEST(installation, scripts_and_loaded_programs_are_found_and_installer_scripts_left_alone) {
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string program = tree.add_program("corvane/bin/corvane");
  const std::string launcher = write_script(root + "/bin/launcher", "sleep 1000\n");
  const std::string installer = write_script(root + "/install.sh", "sleep 1000\n");
  write_script(root + "/bin/relative", "sleep 1000\n");
  const char* loader =
      fs::exists("/lib64/ld-linux-x86-64.so.2") ? "/lib64/ld-linux-x86-64.so.2" : nullptr;
  launch in_its_directory = command({"/bin/sh", "./relative"});
  in_its_directory.directory = root + "/bin";
  const child by_path(command({"/bin/sh", launcher}));
  const child relative(in_its_directory);
  const child installing(command({"/bin/sh", installer}));
  std::vector<int> expected = {by_path.pid(), relative.pid()};
  std::optional<child> loaded;
  if (loader != nullptr) {
    loaded.emplace(command({loader, program, "1000"}));
    expected.push_back(loaded->pid());
  }
  std::sort(expected.begin(), expected.end());
  const auto run = run_host({"--json", "check", "--root", root});
  ASSERT_EQ(run.status, 3) << run.err;
  const auto processes = run.json()["check"]["processes"];
  EXPECT_EQ(pids_of(processes), expected);
  EXPECT_EQ(processes[0]["command"],
            by_path.pid() < relative.pid() ? launcher : root + "/bin/relative");
}

TEST(installation, the_host_inside_it_and_an_updater_calling_the_host_are_left_alone) {
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string host = harness::copy_built_host(root);
  const std::string out = tree.path() + "/out";
  const std::string updater = write_script(
      root + "/bin/updater", "\"" + host + "\" --json run --root \"$1\" >\"$2\" 2>/dev/null\n");
  const child other(tree.add_program("corvane/bin/corvane"));

  child updating(command({"/bin/sh", updater, root, out}));
  ASSERT_EQ(harness::exit_status_of(updating.pid()), 0);
  updating.forget();
  const auto report = nlohmann::json::parse(harness::read_file(out));
  EXPECT_EQ(pids_of(report["check"]["processes"]), std::vector<int>{other.pid()});
  std::vector<std::string> reasons;
  for (const auto& spared : report["check"]["left_alone"]) {
    reasons.push_back(spared["reason"]);
  }
  EXPECT_EQ(reasons,
            (std::vector<std::string>{"it called this corvane-host", "it is this corvane-host"}));
}

// It ignores SIGTERM: while its other thread runs, it has not ended.
TEST(installation, a_program_whose_main_thread_exited_is_found_and_not_taken_for_ended) {
  const temp_tree tree;
  const std::string program = tree.path() + "/corvane/bin/leader";
  fs::create_directories(tree.path() + "/corvane/bin");
  fs::copy_file(THREAD_LEADER_FILE, program);
  launch ignoring = command({program});
  ignoring.ignore_sigterm = true;
  child leader(ignoring);
  const std::string task = "/proc/" + std::to_string(leader.pid()) + "/task/";
  while (std::distance(fs::directory_iterator(task), fs::directory_iterator()) != 2 ||
         harness::read_file("/proc/" + std::to_string(leader.pid()) + "/stat").find(") Z") ==
             std::string::npos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto run =
      run_host({"--json", "run", "--root", tree.path() + "/corvane", "--wait", "0.5", "--force"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(pids_of(run.json()["check"]["processes"]), std::vector<int>{leader.pid()});
  EXPECT_EQ(run.json()["kill"]["processes"][0]["outcome"], "ended on SIGKILL");
  EXPECT_FALSE(leader.ended_by_sigterm());  // reaped, by SIGKILL
}

TEST(installation, a_proc_of_another_pid_namespace_is_refused) {
  if (!can_unshare("--pid --fork")) {
    GTEST_SKIP() << "no pid namespaces here";
  }
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  const auto run =
      run_host({"--pid", "--fork", CORVANE_HOST_FILE, "check", "--root", tree.path() + "/corvane"},
               {std::nullopt, "/usr/bin/unshare", {}});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("not this pid namespace's"), std::string::npos) << run.err;
}

TEST(installation, a_directory_of_another_case_is_another_directory) {
  const temp_tree tree;
  fs::create_directories(tree.path() + "/corvane");
  const child other(tree.add_program("CORVANE/bin/corvane"));
  const auto run = run_host({"--json", "run", "--root", tree.path() + "/corvane"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.json()["check"]["processes"].empty());
  EXPECT_TRUE(other.running());
}

// A library that this process has loaded, to be loaded again from the installation.
std::string loaded_library(const std::string& name) {
  std::istringstream maps(harness::read_file("/proc/self/maps"));
  for (std::string line; std::getline(maps, line);) {
    const std::size_t slash = line.find('/');
    if (slash != std::string::npos && line.size() >= name.size() &&
        line.compare(line.size() - name.size(), name.size(), name) == 0) {
      return line.substr(slash);
    }
  }
  return {};
}

TEST(installation, files_in_use_names_other_programs_that_load_its_libraries) {
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string library = root + "/lib/libcorvane-extra.so";
  fs::create_directories(root + "/lib");
  fs::copy_file(loaded_library("/libm.so.6"), library);
  launch preloaded = command({tree.add_program("elsewhere/tool"), "1000"});
  preloaded.environment = {"LD_PRELOAD=" + library};
  const child user(preloaded);
  const auto run = run_host({"--json", "check", "--files-in-use", "--root", root});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto check = run.json()["check"];
  EXPECT_TRUE(check["processes"].empty());
  ASSERT_EQ(check["using_files"].size(), 1U) << check.dump();
  EXPECT_EQ(check["using_files"][0]["pid"], user.pid());
  EXPECT_EQ(check["using_files"][0]["files"][0]["path"], library);
  EXPECT_NE(run_host({"check", "--files-in-use", "--root", root})
                .out.find("1 other process(es) using files of the installation (not signalled):"),
            std::string::npos);
}

TEST(installation, an_ordinary_user_is_told_what_it_could_not_inspect) {
  const temp_tree tree;
  chmod(tree.path().c_str(), 0755);
  const std::string host = harness::copy_built_host(tree.path() + "/build");
  fs::create_directories(tree.path() + "/corvane");
  const child roots(tree.add_program("elsewhere/daemon"));
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const auto run =
      run_host({"check", "--root", tree.path() + "/corvane"}, {nobody->pw_uid, host, {}});
  EXPECT_EQ(run.status, 5) << run.out << run.err;
  EXPECT_NE(run.out.find("Could not inspect"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Permission denied"), std::string::npos) << run.out;
}

}  // namespace
