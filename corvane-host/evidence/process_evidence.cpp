// SPDX-License-Identifier: MIT
#include "evidence/process_evidence.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <vector>

#include "base/text.h"
#include "base/unique_fd.h"
#include "evidence/evidence_steps.h"
#include "evidence/interpreters.h"
#include "files/overlay_handle.h"
#include "files/resolver.h"
#include "proc/environ_parse.h"
#include "proc/mounts.h"
#include "proc/proc_parse.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {

std::string file_name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// What a process runs: the file its exe link reaches, and the link's text.
// A process whose main thread has exited still runs in its other threads,
// and its executable is then reached through one of them. The text may be
// missing (a path longer than the kernel's link text): the file decides.
struct executable {
  struct stat file {};
  std::string text;
  int error = 0;  // the file could not be reached
};

executable executable_of(const process_handle& process, const known_executable* known) {
  const int dir = process.proc_dir();
  const auto reach = [dir](const std::string& link) {
    reached_file file = reach_at(dir, link);
    return executable{file.facts, std::move(file.path), file.error};
  };
  reached_file running = reach_executable(dir, known);
  executable exe{running.facts, std::move(running.path), running.error};
  if (exe.error != ENOENT) {
    return exe;
  }
  const std::string leader = std::to_string(process.identity().pid);
  for (const std::string& task : read_entries(dir, "task", most_listed)) {
    if (task != leader) {
      executable thread_exe = reach("task/" + task + "/exe");
      if (thread_exe.error == 0) {
        return thread_exe;
      }
    }
  }
  return exe;
}

// Whether the file a process runs, seen through an overlay, stands for the
// installation's file at `path`: an overlay of the installation's own
// directory mounted elsewhere, or one the installation lies in.
bool overlay_of(const process_handle& process, const std::string& path, const file_id& id) {
  const unique_fd seen(openat(process.proc_dir(), "exe", O_PATH | O_CLOEXEC));
  const unique_fd file(
      open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  return seen && file && id_of(file.get()) == id && overlay_stands_for(seen.get(), file.get());
}

std::string lexically_normal(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

// Whether a word of the command line names a path inside the installation.
bool points_inside(const process_handle& process, const std::vector<std::string>& words,
                   const installation& where) {
  const file_text cwd = read_link_at(process.proc_dir(), "cwd");
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!word.empty() &&
        lies_inside(lexically_normal(word.front() == '/' ? word : cwd.text + "/" + word), where)) {
      return true;
    }
  }
  return false;
}

// What the process was started with, read once, on first need.
class started {
 public:
  explicit started(const process_handle& process) : process_(process) {}
  std::string_view environ() {
    if (!text_) {
      text_ = started_with(process_);
    }
    return *text_;
  }

 private:
  const process_handle& process_;
  std::optional<std::string> text_;
};

// What an interpreter's words say it runs, proven.
evidence program_evidence(const process_handle& process, const std::string& program,
                          const program_words& runs, const std::vector<std::string>& words,
                          started& with, const installation& where) {
  switch (runs.kind) {
    case program_kind::file:
      if (runs.files.front().empty()) {
        return {};
      }
      return is_loader(program) ? loader_evidence(process, runs.files.front(), where)
                                : script_evidence(process, program, runs.files.front(), where);
    case program_kind::class_path:
      return runs.files.empty()
                 ? evidence()
                 : class_path_evidence(process, runs.files, runs.main_class, runs.modules, where);
    case program_kind::module:
      return module_evidence(process, runs, with.environ(), where);
    case program_kind::unknown:
      if (runs.option == "CLASSPATH") {
        // No class path named: java's comes from CLASSPATH, or is ".", unless
        // JDK_JAVA_OPTIONS adds words the command line does not show.
        const std::string_view environ = with.environ();
        if (environment_value(environ, "JDK_JAVA_OPTIONS").value_or("").empty()) {
          const std::string_view named = environment_value(environ, "CLASSPATH").value_or("");
          std::vector<std::string> path;
          for (const std::string_view entry : search_path_entries(named)) {
            path.emplace_back(entry);
          }
          return class_path_evidence(process, path, runs.main_class, false, where);
        }
      }
      if (points_inside(process, words, where)) {
        evidence unsure;
        unsure.unproven = unproven::unknown_option;
        return unsure;
      }
      return {};
    case program_kind::none:
      break;
  }
  return {};
}

// The common case in two reads: an executable of the index, not deleted,
// that the kernel names by the index's own name for it. Its identity is the
// proof, as in examine(); the name only shows it is not known otherwise.
std::optional<std::string> indexed_under_its_name(const process_handle& process,
                                                  const installation& where,
                                                  const known_executable* running) {
  const reached_file exe = running != nullptr ? reach_executable(process.proc_dir(), running)
                                              : facts_at(process.proc_dir(), "exe");
  if (exe.error != 0 || exe.facts.st_nlink == 0) {
    return std::nullopt;
  }
  std::optional<std::string> known = indexed(id_from(exe.facts), where);
  if (!known ||
      (running != nullptr ? exe.path : read_link_at(process.proc_dir(), "exe").text) != *known) {
    return std::nullopt;
  }
  return known;
}

}  // namespace

std::optional<evidence> examine_at_a_glance(const process_handle& process,
                                            const installation& where,
                                            const known_executable* known) {
  std::optional<std::string> file = indexed_under_its_name(process, where, known);
  if (!file) {
    return std::nullopt;
  }
  evidence found;
  found.kernel_name = *file;
  found.file = std::move(file);
  return found;
}

namespace {

// What the process's words, read out of its memory, prove of the program it
// runs: `linked`, one of the installation's links leads to it; `nameless`,
// the kernel showed no name for it.
struct running_as {
  bool linked;
  bool nameless;
};

evidence examine_words(const process_handle& process, const installation& where,
                       const executable& exe, const std::string& program, running_as as) {
  const struct stat& running = exe.file;
  const bool linked = as.linked;
  const bool nameless = as.nameless;
  evidence found;
  found.kernel_name = exe.text;
  const file_text cmdline = read_whole_file_at(process.proc_dir(), "cmdline", most_exec_bytes);
  // Words beyond what any launcher writes are a crafted command line, whose
  // words would cost memory many times its size: it proves nothing.
  constexpr std::size_t most_words = 65536;
  if (static_cast<std::size_t>(std::count(cmdline.text.begin(), cmdline.text.end(), '\0')) >
      most_words) {
    return found;
  }
  const std::vector<std::string> words = command_words(parse_cmdline(cmdline.text));
  // argv[0] that leads, through its links, to the very file it runs: a
  // virtual environment's interpreter; only a file one of the installation's
  // links leads to can be reached so. A bare name was looked up in PATH, not
  // in the working directory, and proves nothing.
  if (linked && !words.empty() && words[0].find('/') != std::string::npos) {
    bool elsewhere = false;
    const unique_fd named = open_in_process_root(process, words[0], false, where, &elsewhere);
    const unique_fd target =
        named && !elsewhere ? open_in_process_root(process, words[0], true, where) : unique_fd();
    const std::string here = target ? seen_here(named.get()) : "";
    // The name must be the installation's here too, not only in the
    // process's own mount namespace.
    if (target && lies_inside(here, where) && id_at(here, false) == id_of(named.get()) &&
        id_of(target.get()) == id_from(running)) {
      found.file = here;
      return found;
    }
  }
  if (!is_interpreter(program)) {
    // A nameless program that is no file of the installation: counted where
    // its words point there, as it may be an interpreter running its code.
    if (nameless && points_inside(process, words, where)) {
      found.unproven = unproven::path_too_long;
    }
    return found;
  }
  const program_words runs = program_of(program, words);
  started with(process);
  evidence by_words = program_evidence(process, program, runs, words, with, where);
  if (by_words.file || by_words.unproven) {
    return by_words;
  }
  // What it was started with: read only for the interpreters that take a
  // search path from it, and only where their words proved nothing. java
  // reads CLASSPATH only where no class path is named, as above.
  const std::string_view variable = search_path_variable(program);
  if (!variable.empty() && variable != "CLASSPATH" && !runs.no_environment) {
    evidence by_environment = search_path_evidence(process, program, with.environ(), where);
    if (by_environment.file || by_environment.unproven) {
      return by_environment;
    }
  }
  return found;
}

evidence examine_running(const process_handle& process, const installation& where,
                         const executable& exe) {
  evidence found;
  if (exe.error != 0) {
    found.unreadable = exe.error;
    return found;
  }
  const struct stat& running = exe.file;
  // The link text is the kernel's name for the file; whether the file was
  // deleted or replaced since the process started is its link count's to say.
  // A path deeper than the kernel shows has no text: the file decides. An
  // overlay keeps the link count of the layer's file, which an upgrade
  // inside the overlay does not remove: there the kernel's mark decides.
  const std::string& name = exe.text;
  const bool nameless = name.empty();
  const bool deleted =
      running.st_nlink == 0 ||
      (ends_with(name, std::string(deleted_mark)) &&
       is_overlay_file(unique_fd(openat(process.proc_dir(), "exe", O_PATH | O_CLOEXEC)).get()));
  found.kernel_name = exe.text;
  if (deleted) {
    found = former_file(process, name, running.st_dev, where);
    found.kernel_name = exe.text;
    if (!found.file && !found.unproven && nameless && running.st_dev == where.directory_id.device) {
      found.unproven = unproven::path_too_long;  // where it lay is told by nothing
    }
    // An interpreter that an upgrade replaced while it runs: its words
    // still say what it runs.
    const std::string program = file_name_of(parse_exe_link(name).path);
    if (found.file || found.unproven || !is_interpreter(program)) {
      return found;
    }
    return examine_words(process, where, exe, program, {false, false});
  }
  // The kernel's own name for what it runs, when that name is the same file
  // here (the index's name for it says so without another lookup);
  // otherwise its identity decides, wherever the kernel names it (a bind
  // mount, a hard link, another mount namespace's path).
  const std::optional<std::string> known = indexed(id_from(running), where);
  if ((known && *known == name) || (lies_inside(name, where) && id_at(name) == id_from(running))) {
    found.file = name;
    return found;
  }
  if ((found.file = known)) {
    return found;
  }
  // Another device with an inode number of the installation: an overlay
  // reports its layer's inode numbers, and its handle says which file it is.
  if (const file_id layer_id{where.directory_id.device, running.st_ino};
      running.st_dev != where.directory_id.device) {
    if (const std::optional<std::string> path = indexed(layer_id, where);
        path && overlay_of(process, *path, layer_id)) {
      found.file = path;
      return found;
    }
  }
  const std::string program = file_name_of(name);
  const bool linked = where.files->is_link_target(id_from(running));
  if (!linked && !is_interpreter(program) && !nameless) {
    return found;  // its command line could prove nothing
  }
  return examine_words(process, where, exe, program, {linked, nameless});
}

// What the glance read of a file with one link: no call to read it again.
executable as_glanced(const known_executable& known) {
  executable exe;
  exe.file.st_dev = known.file.device;
  exe.file.st_ino = known.file.inode;
  exe.file.st_nlink = 1;
  exe.text = known.name;
  return exe;
}

// Whether the process still runs the file its glance read, on the same
// mount, under the same name, with its one link.
bool runs_as_glanced(const process_handle& process, const known_executable& known) {
  const reached_file now = reach_executable(process.proc_dir(), &known);
  return now.error == 0 && id_from(now.facts) == known.file && now.facts.st_nlink == 1 &&
         now.path == known.name;
}

}  // namespace

evidence examine(const process_handle& process, const installation& where, bool named_inside,
                 const known_executable* glimpsed) {
  if (std::optional<evidence> glanced =
          named_inside ? examine_at_a_glance(process, where, glimpsed) : std::nullopt) {
    return std::move(*glanced);
  }
  // A process whose words lead elsewhere is passed over on what its glance
  // read of its executable: a program it execs since is missed as it would
  // be had it execed just after its glance, like every process that is only
  // glanced at. What is recorded or counted stands only while the file it
  // runs is still the one glanced at; otherwise it is examined afresh.
  if (glimpsed != nullptr) {
    evidence found = examine_running(process, where, as_glanced(*glimpsed));
    if ((!found.file && !found.unproven && found.unreadable == 0) ||
        runs_as_glanced(process, *glimpsed)) {
      return found;
    }
  }
  return examine_running(process, where, executable_of(process, glimpsed));
}

}  // namespace corvane_host
