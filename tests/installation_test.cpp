// SPDX-License-Identifier: MIT
// What belongs to the installation, on real processes: links, case, installers, replaced
// files, scripts, runtimes, mount namespaces, the host and its callers, files in use, and
// what an ordinary user cannot see.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <map>
#include <optional>
#include <thread>

#include "base/kernel_file.h"
#include "base/unique_fd.h"
#include "evidence/process_evidence.h"
#include "host_harness.h"
#include "proc/proc_parse.h"
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

class installation : public testing::Test {
 protected:
  void SetUp() override { SKIP_WHERE(harness::no_private_pid_namespace()); }
};

TEST_F(installation, the_programs_that_run_its_files_and_nothing_else) {
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
  // Its script's name past the first page of its command line, the 65,536th word: the most the
  // host reads.
  words options_first{"/bin/sh"};
  options_first.insert(options_first.end(), 65534, "-e");
  options_first.push_back(tree.add_file("opt/CorVane/bin/late", tree.waiting_script()));
  ours.emplace_back(options_first, "/bin/sh");
  // A shell that an upgrade replaced while it runs the installation's script.
  const std::string old_shell = tree.add_program("usr/bin/sh", "/bin/sh");
  ours.emplace_back(
      words{old_shell, tree.add_file("opt/CorVane/bin/under_old_shell", tree.waiting_script())},
      old_shell);
  fs::remove(old_shell);
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
  const child mapper({harness::sigterm_modes_file, "maps", data}, "ready");
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
  // A namespace's first process partway through its exit, its memory let go: it runs no
  // program, and is neither ours nor uninspected.
  child lingering({harness::sigterm_modes_file, "exiting"}, "ready");
  const std::string children = "/proc/" + std::to_string(lingering.pid()) + "/task/" +
                               std::to_string(lingering.pid()) + "/children";
  ASSERT_TRUE(harness::eventually([&children] {
    const auto pids = harness::split(harness::read_file(children), ' ');
    return std::any_of(pids.begin(), pids.end(), [](const std::string& pid) {
      const auto fields = corvane_host::parse_stat(harness::read_file("/proc/" + pid + "/stat"));
      return fields && fields->exiting() && fields->state != 'Z';
    });
  }));
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
  kill(lingering.pid(), SIGTERM);
  EXPECT_TRUE(lingering.ended_by_sigterm());
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
                                  R"("}, {"path": ")" + more + R"("}], "runs_code": false})"));
  EXPECT_EQ(check["using_files"][1]["pid"], mapper.pid());
  EXPECT_EQ(check["using_files"][1]["files"],
            nlohmann::json::parse(R"([{"path": ")" + data + R"("}])"));
  // Glanced at first, without --files-in-use: each under the name the kernel knows.
  const auto glanced = run_host({"--json", "check", "--root", root});
  EXPECT_EQ(glanced.pids(), harness::pids_of(ours));
  std::map<int, std::string> commands;
  for (const auto& process : nlohmann::json(glanced.json()["check"]["processes"])) {
    commands[process["pid"].get<int>()] = process["command"].get<std::string>();
  }
  EXPECT_EQ(commands[ours.front().pid()], program);
  EXPECT_EQ(commands[by_alias], alias);
  EXPECT_NE(run.err.find("corvane root: " + root + "\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("/bin/clear\\x1b[2j is going to be killed"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
}

// JARs in the tree, each at its path with one class that waits (by name), made with the JDK's
// own tools, all classes in one run of javac.
bool make_jars(const temp_tree& tree,
               const std::vector<std::pair<std::string, std::string>>& jars) {
  const std::string classes = tree.path() + "/classes";
  words javac = {"/usr/bin/javac", "-d", classes};
  const auto file_of = [](std::string name) {  // "pkg.Name": Name in the package pkg
    std::replace(name.begin(), name.end(), '.', '/');
    return name;
  };
  for (const auto& [jar, name] : jars) {
    const std::size_t dot = name.rfind('.') + 1;
    javac.push_back(tree.add_file("sources/" + file_of(name) + ".java",
                                  (dot > 0 ? "package " + name.substr(0, dot - 1) + ";" : "") +
                                      "public class " + name.substr(dot) +
                                      " { public static void main(String[] a) throws Exception "
                                      "{ Thread.sleep(1000000); } }\n"));
  }
  bool made = harness::run(javac).status == 0;
  for (const auto& [jar, name] : jars) {
    made = made && harness::run({"/usr/bin/jar", "cf", tree.add_file(jar, ""), "-C", classes,
                                 file_of(name) + ".class"})
                           .status == 0;
  }
  return made;
}

// What real machines run from /opt, proven by the kernel; and what only says it is ours.
TEST_F(installation, proof_by_file_argv0_held_handles_and_class_paths_not_by_words) {
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
  ASSERT_TRUE(make_jars(tree, {{"corvane/lib/app.jar", "Main"}, {"other/app.jar", "Main"}}));

  std::list<child> ours;
  ours.emplace_back(words{other + "/hardlink", "1000"});
  ours.emplace_back(words{root + "/venv/bin/python", "-c", "import time; time.sleep(1000)"});
  fs::create_symlink("/bin/sleep", root + "/venv/bin/sleeper");  // any program, by its link
  ours.emplace_back(words{root + "/venv/bin/sleeper", "1000"});
  ours.emplace_back(words{"/bin/sh", "-c", R"(cd "$0" && exec bash ./run.sh)", root}, "bash");
  ours.emplace_back(words{"/usr/bin/node", root + "/app/server.js"},
                    "node " + root + "/app/server.js");
  fs::create_symlink("app.jar", root + "/lib/current.jar");  // the class path names a link
  ours.emplace_back(words{"/usr/bin/java", "-cp", root + "/lib/current.jar", "Main"});
  ours.emplace_back(words{"/bin/sh", "-c", R"(exec java -classpath "$0/lib/*" Main)", root},
                    "java");
  for (auto jvm = std::prev(ours.end(), 2); jvm != ours.end(); ++jvm) {  // until it has its jar
    harness::wait_for_open(jvm->pid(), "app.jar");
  }
  const child other_node({"/usr/bin/node", other + "/server.js"});
  const child other_jvm({"/usr/bin/env", "CLASSPATH=" + root + "/lib/app.jar", "/usr/bin/java",
                         "-cp", other + "/app.jar:" + root + "/missing.jar", "Main"},
                        "/usr/bin/java");  // its -cp, not CLASSPATH, is what java reads
  const child relative_python(
      {"/bin/sh", "-c", R"(cd "$0" && exec /usr/bin/python3.11 agent.py)", root},
      "/usr/bin/python3.11");
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
  // Its script is the administrator's; what it holds open beside it proves nothing.
  const child admins_script({"/bin/sh", "-c", R"(cd "$0" && exec bash ./report.sh "$1" 3<"$2")",
                             other, root, tree.add_file("corvane/myreport.sh", "")},
                            "bash");
  // Classes read from a directory and let go: ours counted; one elsewhere, first, supplies.
  fs::copy(tree.path() + "/classes", root + "/classes");
  const child classes({"/usr/bin/java", "-cp", root + "/classes", "Main"});
  const child first(
      {"/usr/bin/java", "-cp", tree.path() + "/classes:" + root + "/classes", "Main"});
  // Words it wrote over its command line, one of them an option no table knows: counted.
  const child retitled(
      {"/usr/bin/perl", "-e", "$0 = qq(perl -Q $ARGV[0]/run.sh); sleep 1000", root},
      "perl -Q " + root + "/run.sh");
  // One script's name, walked first where it leads elsewhere, from a root the
  // process changed to, then where it leads to ours.
  const std::string jail = tree.add_file(
      "corvane/jail.py",
      "import os, sys, time\nif len(sys.argv) > 1: os.chroot(sys.argv[1])\ntime.sleep(1000)\n");
  fs::create_directories(other + root);
  fs::copy_file(jail, other + jail);
  const child jailed({"/usr/bin/python3.11", jail, other});
  while (fs::read_symlink("/proc/" + std::to_string(jailed.pid()) + "/root") == "/") {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ours.emplace_back(words{"/usr/bin/python3.11", jail});

  const auto run = run_host({"--json", "check", "--files-in-use", "--root", root});
  ASSERT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.pids(), harness::pids_of(ours)) << run.out;
  const auto check = run.json()["check"];
  EXPECT_EQ(check["processes"][0]["command"], other + "/hardlink");
  EXPECT_EQ(check["uninspected"]["reasons"],
            nlohmann::json::parse(
                R"({"not proven: a relative script name, and no open handle to the script": 1,
                "not proven: a command line with an option corvane-host does not know": 1,
                "not proven: a class path in the installation, but none of its jars open": 1})"));
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
  nlohmann::json reasons = open_to_all.json()["check"]["uninspected"]["reasons"];
  EXPECT_EQ(
      reasons["not proven: a script in a directory of the installation that others may write"], 3)
      << open_to_all.out;
  EXPECT_EQ(reasons["not proven: a class path in the installation, but none of its jars open"], 3);
}

// Code found where the runtimes find it: the class path entry that supplies the main class,
// wherever it stands; a module from the working directory; the search path a process was
// started with; the program the loader maps; and a library only loaded, which is not signalled.
TEST_F(installation, code_proven_where_the_runtime_found_it) {
  const char* const loader = "/lib64/ld-linux-x86-64.so.2";
  const char* const python = "/usr/bin/python3.11";
  for (const char* tool : {python, "/usr/bin/javac", "/usr/bin/cc", loader}) {
    SKIP_WHERE(harness::missing(tool));
  }
  setenv("JAVA_TOOL_OPTIONS", "-XX:-UsePerfData", 1);
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string lib = root + "/lib";
  (void)tree.add_program("corvane/bin/corvane");
  for (const char* module : {"corvane/lib/pkg/__main__.py", "corvane/lib/other/__main__.py"}) {
    (void)tree.add_file(module, "import time\ntime.sleep(1000)\n");
  }
  const std::string code = lib + "/libcode.so";
  const std::string source = tree.add_file("code.c", "int corvane_code(void) { return 1; }\n");
  ASSERT_EQ(harness::run({"/usr/bin/cc", "-shared", "-fPIC", "-o", code, source}).status, 0);
  ASSERT_TRUE(make_jars(tree, {{"corvane/lib/app.jar", "app.Main"},
                               {"system/util.jar", "Util"},
                               {"system/tool.jar", "Tool"}}));
  const std::string util = tree.path() + "/system/util.jar";
  const std::string load = "import ctypes, sys, time; ctypes.CDLL(sys.argv[1]); time.sleep(1000)";

  std::list<child> ours;
  ours.emplace_back(words{"/usr/bin/java", "-cp", util + ":" + lib + "/app.jar", "app.Main"});
  harness::wait_for_open(ours.back().pid(), "app.jar");
  ours.emplace_back(words{"/bin/sh", "-c", R"(cd "$0" && exec "$1" -m pkg)", lib, python}, python);
  fs::create_symlink("pkg/__main__.py", lib + "/linked.py");  // a module by another name
  ours.emplace_back(words{"/bin/sh", "-c", R"(cd "$0" && exec "$1" -m linked)", lib, python},
                    python);
  ours.emplace_back(
      words{"/bin/sh", "-c", R"(cd "$0" && exec "$1" bin/corvane 1000)", root, loader}, loader);
  // A search path proven by a file it holds open there; not by one in a directory beside it.
  const std::string hold = "open(F, '<', shift) or die; sleep 1000";
  const auto holding = [&](const std::string& file) {
    return words{"/usr/bin/env", "PERL5LIB=" + lib, "/usr/bin/perl", "-e", hold, file};
  };

  ours.emplace_back(holding(lib + "/pkg/__main__.py"), "/usr/bin/perl");
  harness::wait_for_open(ours.back().pid(), "__main__.py");
  ours.emplace_back(words{"/usr/bin/env", "PYTHONPATH=" + lib, python, "-c", load, code}, python);
  // Its main class comes from a jar elsewhere, though it looked in ours first.
  const child tool(
      {"/usr/bin/java", "-cp", lib + "/app.jar:" + tree.path() + "/system/tool.jar", "Tool"});
  harness::wait_for_open(tool.pid(), "tool.jar");
  const child unconfirmed({"/usr/bin/env", "-C", "/", "PYTHONPATH=" + lib, python, "-m", "other"},
                          python);
  const child loaded({loader, python, "-c", load, code});
  const child beside(holding(tree.add_file("corvane/libx/data", "")), "/usr/bin/perl");
  harness::wait_for_open(beside.pid(), "data");
  ASSERT_TRUE(harness::eventually_holds(loaded.pid(), "maps", code) &&
              harness::eventually_holds(ours.back().pid(), "maps", code));

  const auto run = run_host({"--json", "check", "--files-in-use", "--root", root});
  ASSERT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.pids(), harness::pids_of(ours)) << run.out;
  const auto check = run.json()["check"];
  EXPECT_EQ(check["uninspected"]["reasons"],
            nlohmann::json({{"not proven: a search path from its environment in the installation, "
                             "and no file there open or mapped",
                             2}}));
  std::map<int, bool> users;  // by ID: whether it runs code of the installation
  for (const auto& user : check["using_files"]) {
    users[user["pid"].get<int>()] = user["runs_code"].get<bool>();
  }
  EXPECT_EQ(users, (std::map<int, bool>{{tool.pid(), false}, {loaded.pid(), true}})) << run.out;
}

// `depth` directories below `base`, each made beneath the last by descriptor, as deep build
// trees are: no call takes the whole path (the temporary tree removes them).
class deep_tree {
 public:
  deep_tree(const std::string& base, int depth)
      : dir_(open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    const std::string level(40, 'd');
    for (int i = 0; i < depth && dir_; ++i) {
      mkdirat(dir_.get(), level.c_str(), 0755);
      dir_ = corvane_host::unique_fd(
          openat(dir_.get(), level.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
  }
  void add_program(const std::string& name, const std::string& program = "/bin/sleep") const {
    fs::copy_file(program, "/proc/self/fd/" + std::to_string(dir_.get()) + "/" + name);
  }
  // Starts `argv` in the deepest directory: its path is never spelled out.
  void start(std::list<harness::child>& children, const words& argv) const {
    children.emplace_back(argv, "", harness::sigterm_is::handled_by_default, dir_.get());
  }
  [[nodiscard]] int fd() const { return dir_.get(); }

 private:
  corvane_host::unique_fd dir_;
};

// An upgrade deletes or replaces scripts as they run: the script a shell holds proves it, a
// python that has let its script go is counted. Programs deeper than the kernel shows a path
// for: the installation's is found by its file, one deleted there is counted, another's is not.
TEST_F(installation, deleted_scripts_and_programs_deeper_than_the_kernel_shows) {
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  const std::string bin = tree.add_directory("corvane/bin") + "/";
  constexpr int depth = 110;  // 41 bytes each: beyond PATH_MAX
  const deep_tree deep_ours(root, depth);
  const deep_tree deep_others(tree.add_directory("other"), depth);
  deep_ours.add_program("corvane");
  deep_ours.add_program("gone");
  deep_others.add_program("corvane");
  deep_others.add_program("sh", "/bin/sh");
  const words scripts = {"relative.sh", "absolute.sh", "replaced.sh", "stays.sh"};
  for (const std::string& script : scripts) {
    (void)tree.add_file("corvane/bin/" + script, tree.waiting_script());
  }

  std::list<child> ours;
  ours.emplace_back(words{"/bin/sh", "-c", R"(cd "$0" && exec /bin/sh bin/relative.sh)", root},
                    "/bin/sh");
  ours.emplace_back(words{"/bin/sh", bin + "absolute.sh"}, "/bin/sh");
  ours.emplace_back(words{"/bin/bash", bin + "replaced.sh"}, "/bin/bash");
  deep_ours.start(ours, {"./corvane", "1000"});
  // A program deleted there, and, elsewhere, another's program and a shell whose name cannot
  // be read running a script of the installation: neither proven nor taken.
  std::list<child> not_ours;
  deep_ours.start(not_ours, {"./gone", "1000"});
  deep_others.start(not_ours, {"./corvane", "1000"});
  deep_others.start(not_ours, {"./sh", bin + "stays.sh"});
  ASSERT_EQ(unlinkat(deep_ours.fd(), "gone", 0), 0);
  // Deleted where others may write (its name proves nothing), and with its directory (where
  // it lay is told by nothing).
  const std::string shared = tree.add_directory("corvane/var/tmp");
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  not_ours.emplace_back(tree.add_program("corvane/var/tmp/dropped"));
  not_ours.emplace_back(tree.add_program("corvane/lib/1.2/corvane"));
  // Deleted where a user's own mount namespace has a directory of the user's bound over the
  // installation's: the kernel's name for it there proves nothing.
  const std::string theirs = tree.add_program("theirs/bound");
  not_ours.emplace_back(words{"/usr/bin/unshare", "-Urm", "/bin/sh", "-c",
                              R"(mount --bind "$0" "$1" && exec "$1/bound" 1000)",
                              tree.path() + "/theirs", root + "/bin"},
                        root + "/bin/bound");
  fs::remove(theirs);
  fs::remove(shared + "/dropped");
  fs::remove_all(root + "/lib/1.2");
  for (auto shell = ours.begin(); shell != std::next(ours.begin(), 3); ++shell) {
    harness::wait_for_open(shell->pid(), scripts[std::distance(ours.begin(), shell)]);
  }
  fs::remove(bin + "relative.sh");
  fs::remove(bin + "absolute.sh");
  fs::rename(tree.add_file("corvane/bin/new.sh", "exit 0\n"), bin + "replaced.sh");
  // A python reads its script and lets it go.
  std::optional<child> agent;
  if (harness::missing("/usr/bin/python3").empty()) {
    const std::string read = tree.path() + "/read";
    (void)tree.add_file("corvane/bin/agent.py",
                        "import time\nopen('" + read + "', 'w').close()\ntime.sleep(1000)\n");
    agent.emplace(words{"/usr/bin/python3", bin + "agent.py"});
    ASSERT_TRUE(harness::eventually([&read] { return fs::exists(read); }));
    fs::remove(bin + "agent.py");
  }

  const auto run = run_host({"--json", "run", "--root", root, "--wait", "10"});
  EXPECT_EQ(run.status, 5) << run.err;
  EXPECT_EQ(run.pids(), harness::pids_of(ours)) << run.out;
  std::map<std::string, int> unproven = {
      {"not proven: a program whose path is longer than the kernel shows, and whose file the "
       "installation's index does not hold",
       2},
      {"not proven: a file deleted from the installation together with its directory", 1}};
  if (agent) {
    unproven["not proven: a script of the installation that is gone, and no open handle to it"] = 1;
  }
  EXPECT_EQ(run.json()["check"]["uninspected"]["reasons"], nlohmann::json(unproven)) << run.out;
  for (child& one : ours) {
    EXPECT_TRUE(one.ended_by_sigterm()) << one.pid();
  }
  for (const child& one : not_ours) {
    EXPECT_TRUE(one.running()) << one.pid();
  }
  EXPECT_TRUE(!agent || agent->running());
}

// A process only looked at is pinned by the read of its stat, and found gone
// if it has gone by then.
TEST_F(installation, a_process_looked_at_is_pinned_by_its_stat_or_found_gone) {
  const temp_tree tree;
  child live(tree.add_program("bin/live"));
  child gone(tree.add_program("bin/gone"));
  const corvane_host::unique_fd proc = corvane_host::open_proc();
  auto looked = corvane_host::process_handle::look_at(live.pid(), proc.get());
  auto left = corvane_host::process_handle::look_at(gone.pid(), proc.get());
  ASSERT_TRUE(looked.handle && left.handle);
  EXPECT_FALSE(looked.handle->running()) << "nothing is pinned yet";
  kill(gone.pid(), SIGTERM);
  ASSERT_TRUE(gone.ended_by_sigterm());
  EXPECT_EQ(left.handle->read_stat(), ESRCH);
  EXPECT_FALSE(left.handle->running());
  ASSERT_EQ(looked.handle->read_stat(), 0);
  EXPECT_TRUE(looked.handle->running());
  const auto pinned = corvane_host::process_handle::pin(live.pid(), proc.get());
  ASSERT_TRUE(pinned.handle);
  EXPECT_EQ(looked.handle->identity(), pinned.handle->identity());
}

// What a glance before the pin read may pass a process over, never prove it: a shell that runs
// the installation's script, examined as the program its glance saw, is passed over when that
// program takes no script; a program that only names the script, glanced at as python, is
// examined afresh as what it runs, and proves nothing.
TEST_F(installation, a_glance_may_pass_over_and_what_is_found_stands_on_what_runs_now) {
  const temp_tree tree;
  const std::string script = tree.add_file("corvane/bin/launch", tree.waiting_script());
  child shell({"/bin/sh", script}, "/bin/sh");
  child locker({"/usr/bin/flock", script, "/bin/sleep", "1000"}, "/usr/bin/flock");
  harness::wait_for_open(shell.pid(), "launch");  // its script, held while it waits
  const corvane_host::unique_fd proc = corvane_host::open_proc();
  const auto where = corvane_host::installation_at(tree.path() + "/corvane/");
  const std::string sh = fs::canonical("/bin/sh").string();
  const std::string found = fs::canonical(script).string();
  for (const auto& [pid, name, file, proven] :
       {std::tuple{shell.pid(), sh, sh, found},
        {shell.pid(), "/bin/true", "/bin/true", ""},
        {locker.pid(), "/usr/bin/python3", "/bin/true", ""}}) {
    const auto looked = corvane_host::process_handle::look_at(pid, proc.get());
    ASSERT_TRUE(looked.handle);
    struct statx facts {};  // the glance's, of `file` under the name `name`
    EXPECT_EQ(statx(AT_FDCWD, file.c_str(), 0, STATX_INO | corvane_host::unique_mount_id, &facts),
              0);
    const corvane_host::known_executable known{
        (facts.stx_mask & corvane_host::unique_mount_id) != 0 ? facts.stx_mnt_id : 0,
        {makedev(facts.stx_dev_major, facts.stx_dev_minor), facts.stx_ino},
        name};
    EXPECT_EQ(corvane_host::examine(*looked.handle, where, false, &known).file.value_or(""), proven)
        << pid << " glanced at as " << name;
  }
}

// Any process may show a command line of 64 MiB (prctl): the host reads no more of one than an
// exec can have written, so three of them cost a check little memory.
TEST_F(installation, command_lines_beyond_what_an_exec_takes_cost_a_check_little_memory) {
  const temp_tree tree;
  (void)tree.add_program("corvane/bin/corvane");
  const std::string root = tree.path() + "/corvane";
  // Under AddressSanitizer freed memory is held back for a while: not here.
  const char* const asan = std::getenv("ASAN_OPTIONS");
  const std::string quarantine =
      std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":quarantine_size_mb=0";
  const auto peak_kib = [&] {  // of one check, which finds nothing
    const pid_t host =
        harness::start({"/usr/bin/env", quarantine, harness::host_file, "check", "--root", root},
                       "/dev/null", "/dev/null");
    int status = -1;
    rusage usage{};
    EXPECT_EQ(wait4(host, &status, 0, &usage), host);
    EXPECT_EQ(status, 0);
    return usage.ru_maxrss;
  };
  const long ordinary = peak_kib();
  // Named as an interpreter, whose command line the host reads.
  const std::string python = tree.add_program("elsewhere/python3", harness::sigterm_modes_file);
  // Not read here: this process's own memory is its children's until they exec.
  std::vector<pid_t> huge;
  for (int i = 0; i < 3; ++i) {
    const std::string said = tree.path() + "/said" + std::to_string(i);
    huge.push_back(harness::start({python, "cmdline"}, said, "/dev/null"));
    EXPECT_TRUE(harness::eventually([&said] { return harness::read_file(said) == "ready\n"; }));
  }
  const long grown = peak_kib() - ordinary;
  for (const pid_t pid : huge) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  EXPECT_LT(grown, 64 * 1024);
}

// A live process whose status does not parse is an error of its own, not an end; a file is read
// up to its limit, not a block further, and a one-line file up to its newline.
TEST(proc_files, a_bad_status_is_an_error_and_a_long_file_stops_at_its_limit) {
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
  const int at = pinned.handle->proc_dir();
  EXPECT_EQ(corvane_host::read_status(*pinned.handle).error, EBADMSG);
  EXPECT_EQ(corvane_host::read_file_at(at, "missing").error, ENOENT);
  (void)tree.add_file(dir + "/maps", std::string(std::size_t{3} * 4096, 'm'));
  EXPECT_EQ(corvane_host::read_file_at(at, "maps", 4096).text.size(), 4096U);
  // A one-line file ends with its newline: no read waits past it.
  const std::string fifo = tree.path() + "/" + dir + "/line";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const corvane_host::unique_fd writer(open(fifo.c_str(), O_RDWR));
  ASSERT_EQ(write(writer.get(), "a line\n", 7), 7);
  const auto line = corvane_host::read_line_file_at(at, "line");
  EXPECT_EQ(std::tie(line.text, line.error), std::make_tuple("a line\n", 0));
  // A file made whole ends with a read that brings less than it asked for; a
  // full read is not its end.
  ASSERT_EQ(write(writer.get(), "two\nlines\n", 10), 10);
  const auto whole = corvane_host::read_whole_file_at(at, "line");
  EXPECT_EQ(std::tie(whole.text, whole.error), std::make_tuple("two\nlines\n", 0));
  EXPECT_EQ(corvane_host::read_whole_file_at(at, "maps").text.size(), std::size_t{3} * 4096);
  for (const char* fd : {"0", "1", "2"}) {
    (void)tree.add_directory(dir + "/fd/" + fd);
  }
  EXPECT_EQ(corvane_host::read_entries(at, "fd", 2).size(), 2U);
  // A live process without a directory in this /proc: the error is the directory's.
  EXPECT_EQ(corvane_host::process_handle::pin(getpid(), proc_fd.get()).error, ENOENT);
}

// `argv`, a script and its arguments, run by sh in a private mount namespace.
words in_own_mounts(words argv) {
  argv.insert(argv.begin(),
              {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c"});
  return argv;
}

TEST_F(installation,
       a_containers_look_alikes_are_left_alone_and_our_file_is_found_in_any_namespace) {
  SKIP_WHERE(can_unshare("--mount") ? "" : "no mount namespaces here");
  const temp_tree tree;
  const std::string ours = tree.add_program("corvane/bin/corvane");
  const std::string other = tree.add_program("container/sleep");
  // Private mount namespaces: one with `other` mounted over `ours`, one without.
  const auto in_namespace = [&ours](const words& argv, const std::string& ready = "") {
    return child(in_own_mounts(argv), ready.empty() ? ours : ready);
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
  // One script's name, where it leads elsewhere first, then to ours: each
  // process's is walked from its own root.
  const std::string launch = tree.add_file("corvane/bin/launch", tree.waiting_script());
  const std::string links = tree.add_directory("links");
  fs::create_symlink(tree.add_file("container/launch", tree.waiting_script()), links + "/launch");
  const child launched_elsewhere = in_namespace(
      {R"(mount --bind "$1" "$2" && exec sh "$0")", launch, links, tree.path() + "/corvane/bin"},
      "sh");
  const child launched({"/bin/sh", launch});
  harness::wait_for_open(launched_elsewhere.pid(), "launch");
  harness::wait_for_open(launched.pid(), "launch");
  const auto run = run_host({"--json", "run", "--root", tree.path() + "/corvane"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.pids(), (std::vector<int>{sandboxed.pid(), bound.pid(), launched.pid()}));
  for (const child* left : {&launched_elsewhere, &look_alike, &unseen, &unseen_script}) {
    EXPECT_TRUE(left->running()) << left->pid();
  }
}

TEST_F(installation, through_an_overlay_its_file_is_told_by_the_layers_handle_replaced_or_not) {
  SKIP_WHERE(can_unshare("--mount") ? "" : "no mount namespaces here");
  const temp_tree tree;
  const std::string root = tree.path() + "/corvane";
  (void)tree.add_program("corvane/bin/corvane");
  (void)tree.add_program("other/corvane");  // the same name and size, another file
  // An overlay at `at` of `lower`, in a private mount namespace, then `then` in it.
  const auto in_overlay = [&tree](const std::string& lower, const std::string& at,
                                  const std::string& then) {
    for (const char* part : {"/upper", "/work", "/merged"}) {
      (void)tree.add_directory(at + part);
    }
    return in_own_mounts(
        {"mount -t overlay overlay -o lowerdir=\"$0\",upperdir=\"$1/upper\","
         "workdir=\"$1/work\" \"$1/merged\" || exit 1; M=\"$1/merged\"; " +
             then,
         lower, tree.path() + "/" + at});
  };
  const child ours(in_overlay(root + "/bin", "mine", R"(exec "$M/corvane" 1000)"),
                   tree.path() + "/mine/merged/corvane");
  const child look_alike(in_overlay(tree.path() + "/other", "theirs", R"(exec "$M/corvane" 1000)"),
                         tree.path() + "/theirs/merged/corvane");
  const std::string session = tree.path() + "/session";
  const auto run = run_host({"--json", "--session", session, "check", "--root", root});
  ASSERT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.pids(), (std::vector<int>{ours.pid()}));
  // The plug-in is given the installation's own name for the file (and writes it lower-case).
  std::string named = root + "/bin/corvane";
  std::transform(named.begin(), named.end(), named.begin(), ::tolower);
  EXPECT_NE(harness::read_file(session).find("%0A" + named + "%0A"), std::string::npos);

  // An installation inside an overlay, its program replaced by an upgrade there: the layer
  // keeps the old file's link, and the kernel's mark tells it was replaced.
  (void)tree.add_program("image/app/bin/corvane");
  const auto inside = harness::run(in_overlay(
      tree.path() + "/image", "container",
      "\"$M/app/bin/corvane\" 1000 & "
      "for i in $(seq 1000); do [ \"$(readlink /proc/$!/exe)\" = \"$M/app/bin/corvane\" ] && "
      "break; sleep 0.01; done; "
      "cp /bin/sleep \"$M/app/bin/new\" && mv \"$M/app/bin/new\" \"$M/app/bin/corvane\" && "
      "'" +
          std::string(harness::host_file) +
          "' --json check --root \"$M/app\"; status=$?; kill $!; exit $status"));
  ASSERT_EQ(inside.status, 3) << inside.out << inside.err;
  EXPECT_EQ(inside.pids().size(), 1U);
}

TEST_F(installation, the_host_inside_it_and_an_updater_calling_the_host_are_left_alone) {
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
  fs::remove(root + "/plugin/libcorvane-kill.so.1n");  // the one it would load
  EXPECT_EQ(harness::run({host, "check", "--root", root}).err,
            "corvane-host: the plug-in is missing: " + root +
                "/plugin/libcorvane-kill.so.1n (this corvane-host loads only the library built "
                "beside it); name another with --plugin\n");
}

// It ignores SIGTERM: while its other thread runs, it has not ended.
TEST_F(installation, a_program_whose_main_thread_exited_is_found_and_not_taken_for_ended) {
  const temp_tree tree;
  const std::string program = tree.add_program("corvane/bin/leader", harness::sigterm_modes_file);
  child leader({program, "leader"}, "", harness::sigterm_is::ignored);
  ASSERT_TRUE(harness::eventually_holds(leader.pid(), "stat", ") Z"));
  const auto run =
      run_host({"--json", "run", "--root", tree.path() + "/corvane", "--wait", "0.5", "--force"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.outcomes(), (std::map<int, std::string>{{leader.pid(), "ended on SIGKILL"}}));
  EXPECT_FALSE(leader.ended_by_sigterm());  // reaped, by SIGKILL
}

TEST(proc_files, one_of_another_pid_namespace_is_refused) {
  SKIP_WHERE(can_unshare("--pid --fork") ? "" : "no pid namespaces here");
  const temp_tree tree;
  const auto run = harness::run({"/usr/bin/unshare", "--pid", "--fork", harness::host_file, "check",
                                 "--root", tree.add_directory("corvane")});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("not this pid namespace's"), std::string::npos) << run.err;
}

}  // namespace
