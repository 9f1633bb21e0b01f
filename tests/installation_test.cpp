// SPDX-License-Identifier: MIT
// What belongs to the installation, on real processes: links, case, installers, replaced
// files, scripts, runtimes, mount namespaces, the host and its callers, files in use, and
// what an ordinary user cannot see.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <map>

#include "base/kernel_file.h"
#include "base/unique_fd.h"
#include "host_harness.h"
#include "proc/proc_table.h"
#include "proc/process_handle.h"

namespace {

using harness::child;
using harness::run_host;
using harness::temp_tree;
using words = std::vector<std::string>;
namespace fs = std::filesystem;

// Whether this machine lets the test make namespaces (`unshare` with `flags`).
bool can_unshare(const std::string& flags) {
  return std::system(("/usr/bin/unshare " + flags + " true 2>/dev/null").c_str()) == 0;
}

TEST(installation, the_programs_that_run_its_files_and_nothing_else) {
  SKIP_WHERE(harness::no_private_pid_namespace());
  const temp_tree tree;
  const std::string root = tree.path() + "/opt/CorVane";
  fs::create_directory_symlink("opt", tree.path() + "/apps");  // the root is given through it
  const std::string program = tree.add_program("opt/CorVane/bin/Corvane");
  const std::string replaced = tree.add_program("opt/CorVane/bin/old");
  const std::string gui = tree.add_program("opt/CorVane/install_gui");
  (void)tree.add_file("opt/CorVane/bin/relative", tree.waiting_script());
  const std::string data = tree.add_program("opt/CorVane/share/data");

  std::list<child> ours;
  ours.emplace_back(program);
  const std::string alias = root + "/bin/alias";  // one file under two names of its own
  fs::create_hard_link(program, alias);
  const pid_t by_alias = ours.emplace_back(alias).pid();
  ours.emplace_back(replaced);
  ours.emplace_back(tree.add_program("opt/CorVane/bin/corvane (deleted)"));  // a name, not a mark
  ours.emplace_back(tree.add_program("opt/CorVane/bin/clear\x1b[2J"));       // logged escaped
  ours.emplace_back(words{"/bin/sh", "-c", "cd \"$0\" && exec sh ./relative", root + "/bin"}, "sh");
  if (fs::exists("/lib64/ld-linux-x86-64.so.2")) {
    ours.emplace_back(words{"/lib64/ld-linux-x86-64.so.2", program, "1000"});
  }
  const child replaced_installer(gui);
  const child installer_binary(tree.add_program("opt/CorVane/tools/install.sh"));
  const child sibling(tree.add_program("opt/CorVane-old/bin/corvane"));
  const child other_case(tree.add_program("opt/CORVANE/bin/corvane"));
  const child other_case_script(
      {"/bin/sh", tree.add_file("opt/CORVANE/run", tree.waiting_script())}, "/bin/sh");
  const std::string more = tree.add_file("opt/CorVane/share/more", "");
  const child user({"/bin/sh", "-c", R"(exec /bin/sleep 1000 <"$0" 3<"$1")", data, more},
                   "/bin/sleep");
  // It maps `data` pages into its maps, which comes about a page per read(): read on, and found.
  const child mapper({SIGTERM_MODES_FILE, "maps", data}, "ready");
  const auto maps =
      corvane_host::read_file_at(AT_FDCWD, "/proc/" + std::to_string(mapper.pid()) + "/maps");
  ASSERT_EQ(maps.error, 0);
  const std::size_t at = maps.text.find(data);
  EXPECT_NE(at, std::string::npos) << maps.text.size() << " bytes read";
  EXPECT_GT(at, 4096U) << "the mapping should come after the first page";
  const pid_t zombie = fork();  // a zombie runs no program: neither ours nor uninspected
  if (zombie == 0) {
    _exit(0);
  }
  for (const std::string& file : {replaced, gui}) {  // an upgrade replaces them
    fs::remove(file);
    (void)tree.add_program(fs::relative(file, tree.path()));
  }
  // Jobs' scripts renamed away or removed, their names then linked to the installation's
  // script: the script a shell holds decides, so neither job is taken for ours.
  const std::string team = tree.path() + "/team/";
  std::list<child> jobs;
  for (const std::string name : {"renamed.sh", "removed.sh"}) {
    jobs.emplace_back(words{"/bin/sh", tree.add_file("team/" + name, tree.waiting_script())},
                      "/bin/sh");
    harness::wait_for_open(jobs.back().pid(), name);
    if (name == "renamed.sh") {
      fs::rename(team + name, team + "old.sh");
    } else {
      fs::remove(team + name);
    }
    fs::create_symlink(root + "/bin/relative", team + name);
  }

  // The session inside the installation: the host holds it open, yet never lists itself.
  const auto run = run_host({"--json", "--session", root + "/session", "check", "--files-in-use",
                             "--root", tree.path() + "/apps/CorVane"});
  waitpid(zombie, nullptr, 0);
  ASSERT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.pids(), harness::pids_of(ours));
  const auto check = run.json()["check"];
  EXPECT_EQ(check["root"], root + "/");
  EXPECT_EQ(check["uninspected"]["count"], 0);
  EXPECT_EQ(check["processes"][0]["command"], program);
  ASSERT_EQ(check["using_files"].size(), 2U) << run.out;
  EXPECT_EQ(check["using_files"][0],
            nlohmann::json::parse(R"({"pid": )" + std::to_string(user.pid()) +
                                  R"(, "program": "/usr/bin/sleep", "files": [{"path": ")" + data +
                                  R"("}, {"path": ")" + more + R"("}]})"));
  EXPECT_EQ(check["using_files"][1]["pid"], mapper.pid());
  EXPECT_EQ(check["using_files"][1]["files"],
            nlohmann::json::parse(R"([{"path": ")" + data + R"("}])"));
  // Glanced at first, without --files-in-use: each under the name the kernel knows.
  const auto glanced = run_host({"--json", "check", "--root", root}).json();
  std::map<int, std::string> commands;
  for (const auto& process : glanced["check"]["processes"]) {
    commands[process["pid"].get<int>()] = process["command"].get<std::string>();
  }
  EXPECT_EQ(commands[ours.front().pid()], program);
  EXPECT_EQ(commands[by_alias], alias);
  EXPECT_NE(run.err.find("corvane root: " + root + "\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("/bin/clear\\x1b[2j is going to be killed"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
}

// A JAR at `jar` in the tree with a class Main that waits, made with the JDK's own tools.
bool make_jar(const temp_tree& tree, const std::string& jar) {
  const std::string source =
      tree.add_file("classes/Main.java",
                    "public class Main { public static void main(String[] a) throws Exception "
                    "{ Thread.sleep(1000000); } }\n");
  const std::string classes = tree.path() + "/classes";
  return harness::run({"/usr/bin/javac", "-d", classes, source}).status == 0 &&
         harness::run({"/usr/bin/jar", "cf", tree.add_file(jar, ""), "-C", classes, "Main.class"})
                 .status == 0;
}

// What real machines run from /opt, proven by the kernel; and what only says it is ours.
TEST(installation, proof_by_file_argv0_held_handles_and_class_paths_not_by_words) {
  SKIP_WHERE(harness::no_private_pid_namespace());
  for (const char* runtime : {"/usr/bin/python3.11", "/usr/bin/javac", "/usr/bin/node"}) {
    SKIP_WHERE(harness::missing(runtime));
  }
  setenv("JAVA_TOOL_OPTIONS", "-XX:-UsePerfData", 1);  // no /tmp/hsperfdata_* left behind
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string other = tree.path() + "/other";
  const std::string program = tree.add_program("corvane/bin/corvane");
  const std::string data = tree.add_program("corvane/share/data");
  (void)tree.add_file("corvane/run.sh", "cd /\n" + tree.waiting_script());
  (void)tree.add_file("corvane/agent.py", "import os, time\nos.chdir('/')\ntime.sleep(1000)\n");
  (void)tree.add_file("corvane/report.sh", "exit 0\n");  // the administrator's has this name too
  (void)tree.add_file("corvane/app/server.js",
                      "process.title = 'node ' + __filename;\nsetInterval(() => {}, 1e6);\n");
  (void)tree.add_file("other/report.sh", "cd \"$1\" && sleep 1000\n");
  (void)tree.add_file("other/report.pl", "sleep 1000;\n");
  (void)tree.add_file("other/server.js", "setInterval(() => {}, 1e6);\n");
  fs::create_hard_link(program, other + "/hardlink");
  fs::create_hard_link(data, other + "/datalink");
  fs::create_symlink("/usr/bin/python3.11", tree.add_directory("corvane/venv/bin") + "/python");
  ASSERT_TRUE(make_jar(tree, "corvane/lib/app.jar"));
  ASSERT_TRUE(make_jar(tree, "other/app.jar"));

  std::list<child> ours;
  ours.emplace_back(words{other + "/hardlink", "1000"});
  ours.emplace_back(words{root + "/venv/bin/python", "-c", "import time; time.sleep(1000)"});
  ours.emplace_back(words{"/bin/sh", "-c", R"(cd "$0" && exec bash ./run.sh)", root}, "bash");
  ours.emplace_back(words{"/usr/bin/node", root + "/app/server.js"},
                    "node " + root + "/app/server.js");
  ours.emplace_back(words{"/usr/bin/java", "-cp", root + "/lib/app.jar", "Main"});
  ours.emplace_back(words{"/bin/sh", "-c", R"(exec java -classpath "$0/lib/*" Main)", root},
                    "java");
  for (auto jvm = std::prev(ours.end(), 2); jvm != ours.end(); ++jvm) {  // until it has its jar
    harness::wait_for_open(jvm->pid(), "app.jar");
  }
  const child other_node({"/usr/bin/node", other + "/server.js"});
  const child other_jvm(
      {"/usr/bin/java", "-cp", other + "/app.jar:" + root + "/missing.jar", "Main"});
  const child relative_python(
      {"/bin/sh", "-c", R"(cd "$0" && exec /usr/bin/python3.11 agent.py)", root},
      "/usr/bin/python3.11");
  const child admins_script(
      {"/bin/sh", "-c", R"(cd "$0" && exec bash ./report.sh "$1")", other, root}, "bash");
  const child perl({"/usr/bin/perl", "-I", root, other + "/report.pl"});
  // A hard link in a directory of the installation that anyone, or its group, may write to
  // vouches for nothing.
  const child tool(tree.add_program("other/tool"));
  for (const auto& [directory, mode] :
       {std::pair{"corvane/var", 01777}, {"corvane/shared", 0775}}) {
    chmod(tree.add_directory(directory).c_str(), mode);
    fs::create_hard_link(other + "/tool", tree.path() + "/" + directory + "/tool");
  }
  // System interpreters by a bare name in the venv, by a relative one from a deleted directory.
  fs::create_symlink("/usr/bin/perl", root + "/venv/bin/perl");
  const child bare(
      {"/bin/bash", "-c",
       R"(cd "$0" && exec -a python /usr/bin/python3.11 -c 'import time; time.sleep(1000)' 1000)",
       root + "/venv/bin"},
      "python");
  const child lost(
      {"/bin/bash", "-c",
       R"(cd "$0" && rmdir "$0" && exec -a bin/perl /usr/bin/perl -e 'sleep shift' 1000)",
       tree.add_directory("gone")},
      "bin/perl");
  fs::create_directory_symlink(root + "/venv", tree.path() + "/gone (deleted)");
  const child user({"/bin/sh", "-c", R"(exec /bin/sleep 1000 <"$0")", other + "/datalink"},
                   "/bin/sleep");

  const auto run = run_host({"--json", "check", "--files-in-use", "--root", root});
  ASSERT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.pids(), harness::pids_of(ours)) << run.out;
  const auto check = run.json()["check"];
  EXPECT_EQ(check["processes"][0]["command"], other + "/hardlink");
  EXPECT_EQ(check["uninspected"]["reasons"],
            nlohmann::json::parse(
                R"({"not proven: a relative script name, and no open handle to the script": 1})"));
  EXPECT_EQ(check["using_files"][0]["pid"], user.pid());
  EXPECT_EQ(check["using_files"][0]["files"][0]["path"], other + "/datalink");
  std::string handed = root + "/bin/corvane";  // the plug-in folds case
  std::transform(handed.begin(), handed.end(), handed.begin(), ::tolower);
  EXPECT_NE(run.err.find("process: " + handed + " is going to be killed"), std::string::npos)
      << "the plug-in is handed the installation's own path";
  // An installation anyone may write to vouches for no hard link, and for no
  // script or jar by its name: those are counted, not proven.
  chmod(root.c_str(), 0777);
  const auto open_to_all = run_host({"--json", "check", "--root", root});
  ASSERT_EQ(open_to_all.status, 5) << open_to_all.err << open_to_all.out;
  EXPECT_EQ(open_to_all.pids(), std::vector<int>{}) << open_to_all.out;
  const std::string unproven =
      "not proven: a script in a directory of the installation that others may write";
  EXPECT_EQ(open_to_all.json()["check"]["uninspected"]["reasons"][unproven], 2) << open_to_all.out;
}

// A process only looked at is pinned by the read of its stat, and found gone
// if it has gone by then.
TEST(installation, a_process_looked_at_is_pinned_by_its_stat_or_found_gone) {
  SKIP_WHERE(harness::no_private_pid_namespace());
  const temp_tree tree;
  child live(tree.add_program("bin/live"));
  child gone(tree.add_program("bin/gone"));
  const corvane_host::unique_fd proc_dir = corvane_host::open_proc();
  const int proc = proc_dir.get();
  auto looked = corvane_host::process_handle::look_at(live.pid(), proc);
  auto left = corvane_host::process_handle::look_at(gone.pid(), proc);
  ASSERT_TRUE(looked.handle && left.handle);
  EXPECT_FALSE(looked.handle->running()) << "nothing is pinned yet";
  kill(gone.pid(), SIGTERM);
  ASSERT_TRUE(gone.ended_by_sigterm());
  EXPECT_EQ(left.handle->read_stat(), ESRCH);
  EXPECT_FALSE(left.handle->running());
  ASSERT_EQ(looked.handle->read_stat(), 0);
  EXPECT_TRUE(looked.handle->running());
  const auto pinned = corvane_host::process_handle::pin(live.pid(), proc);
  ASSERT_TRUE(pinned.handle);
  EXPECT_EQ(looked.handle->identity(), pinned.handle->identity());
}

// A live process whose status does not parse is an error of its own, not an
// end; a file is read up to its limit, not a block further, and a one-line
// file up to its newline.
TEST(installation, a_bad_status_is_an_error_and_a_long_file_stops_at_its_limit) {
  const temp_tree tree;
  const child one(tree.add_program("corvane/bin/one"));
  const std::string dir = "proc/" + std::to_string(one.pid());
  (void)tree.add_file(
      dir + "/stat",
      std::to_string(one.pid()) + " (x) S 1 1 1 0 -1 4194304 0 0 0 0 0 0 0 0 20 0 1 0 99 0 0\n");
  (void)tree.add_file(dir + "/status", "Name:\tx\n");
  const corvane_host::unique_fd proc_fd(open((tree.path() + "/proc").c_str(), O_PATH));
  const auto pinned = corvane_host::process_handle::pin(one.pid(), proc_fd.get());
  ASSERT_TRUE(pinned.handle) << pinned.error;
  const auto status = corvane_host::read_status(*pinned.handle);
  EXPECT_EQ(status.error, EBADMSG);
  (void)tree.add_file(dir + "/maps", std::string(std::size_t{3} * 4096, 'm'));
  EXPECT_EQ(corvane_host::read_file_at(pinned.handle->proc_dir(), "maps", 4096).text.size(), 4096U);
  // A one-line file ends with its newline: no read waits past it.
  const std::string fifo = tree.path() + "/" + dir + "/line";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const corvane_host::unique_fd writer(open(fifo.c_str(), O_RDWR));
  ASSERT_EQ(write(writer.get(), "a line\n", 7), 7);
  const auto line = corvane_host::read_line_file_at(pinned.handle->proc_dir(), "line");
  EXPECT_EQ(line.text, "a line\n");
  EXPECT_EQ(line.error, 0);
  // A file made whole ends with a read that brings less than it asked for; a
  // full read is not its end.
  ASSERT_EQ(write(writer.get(), "two\nlines\n", 10), 10);
  const auto whole = corvane_host::read_whole_file_at(pinned.handle->proc_dir(), "line");
  EXPECT_EQ(whole.text, "two\nlines\n");
  EXPECT_EQ(whole.error, 0);
  EXPECT_EQ(corvane_host::read_whole_file_at(pinned.handle->proc_dir(), "maps").text.size(),
            std::size_t{3} * 4096);
  for (const char* fd : {"0", "1", "2"}) {
    (void)tree.add_directory(dir + "/fd/" + fd);
  }
  EXPECT_EQ(corvane_host::read_entries(pinned.handle->proc_dir(), "fd", 2).size(), 2U);
  // A live process without a directory in this /proc: the error is the directory's.
  EXPECT_EQ(corvane_host::process_handle::pin(getpid(), proc_fd.get()).error, ENOENT);
}

TEST(installation, a_containers_look_alikes_are_left_alone_and_our_file_is_found_in_any_namespace) {
  SKIP_WHERE(harness::no_private_pid_namespace());
  SKIP_WHERE(can_unshare("--mount") ? "" : "no mount namespaces here");
  const temp_tree tree;
  const std::string ours = tree.add_program("corvane/bin/corvane");
  const std::string other = tree.add_program("container/sleep");
  // Private mount namespaces: one with `other` mounted over `ours`, one without.
  const auto in_namespace = [&ours](std::vector<std::string> argv, const std::string& ready = "") {
    argv.insert(argv.begin(),
                {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c"});
    return child(argv, ready.empty() ? ours : ready);
  };
  const child look_alike =
      in_namespace({R"(mount --bind "$1" "$0" && exec "$0" 1000)", ours, other});
  const child sandboxed = in_namespace({R"(exec "$0" 1000)", ours});
  // The installation bound at another path: the same file under another name.
  const std::string bound_at = tree.add_directory("bound");
  const child bound = in_namespace({R"(mount --bind "$1" "$2" && exec "$2/bin/corvane" 1000)", ours,
                                    tree.path() + "/corvane", bound_at},
                                   bound_at + "/bin/corvane");
  // A name of the installation that is nothing here: what runs under it is another file.
  const std::string plugins = tree.add_directory("corvane/plugins");
  const child unseen = in_namespace(
      {R"(mount --bind "$1" "$0" && exec "$0/sleep" 1000)", plugins, tree.path() + "/container"},
      plugins + "/sleep");
  // A script it holds there, by a relative name: its handle shows whose file it is.
  (void)tree.add_file("container/wait", tree.waiting_script());
  const child unseen_script =
      in_namespace({R"(mount --bind "$1" "$0/plugins" && cd "$0" && exec sh plugins/wait)",
                    tree.path() + "/corvane", tree.path() + "/container"},
                   "sh");
  harness::wait_for_open(unseen_script.pid(), "wait");
  const auto run = run_host({"--json", "run", "--root", tree.path() + "/corvane"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.pids(), (std::vector<int>{sandboxed.pid(), bound.pid()}));
  EXPECT_TRUE(look_alike.running());
  EXPECT_TRUE(unseen.running());
  EXPECT_TRUE(unseen_script.running());
}

TEST(installation, the_host_inside_it_and_an_updater_calling_the_host_are_left_alone) {
  SKIP_WHERE(harness::no_private_pid_namespace());
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string host = tree.add_built_host("corvane");
  const child other(tree.add_program("corvane/bin/corvane"));
  const std::string updater =
      tree.add_file("corvane/bin/updater", "\"" + host + "\" run --root \"$1\" 2>/dev/null\n");
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
  SKIP_WHERE(harness::no_private_pid_namespace());
  const temp_tree tree;
  const std::string program = tree.add_program("corvane/bin/leader", SIGTERM_MODES_FILE);
  child leader({program, "leader"}, "", harness::sigterm_is::ignored);
  ASSERT_TRUE(harness::eventually([&leader] {
    return harness::read_file("/proc/" + std::to_string(leader.pid()) + "/stat").find(") Z") !=
           std::string::npos;
  }));
  const auto run =
      run_host({"--json", "run", "--root", tree.path() + "/corvane", "--wait", "0.5", "--force"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.outcomes(), (std::map<int, std::string>{{leader.pid(), "ended on SIGKILL"}}));
  EXPECT_FALSE(leader.ended_by_sigterm());  // reaped, by SIGKILL
}

TEST(installation, a_proc_of_another_pid_namespace_is_refused) {
  SKIP_WHERE(can_unshare("--pid --fork") ? "" : "no pid namespaces here");
  const temp_tree tree;
  const auto run = harness::run({"/usr/bin/unshare", "--pid", "--fork", CORVANE_HOST_FILE, "check",
                                 "--root", tree.add_directory("corvane")});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("not this pid namespace's"), std::string::npos) << run.err;
}

}  // namespace
