// SPDX-License-Identifier: MIT
// A JVM runs the installation's code when the entry of its class path that
// supplies its main class is the installation's, wherever it stands. The JVM
// opens the jars of its class path in order, as it looks for a class, and
// keeps them open: a jar it holds was looked in, one it does not hold never
// was, and the installation's jar it holds that has the main class is the
// proof. A jar elsewhere is not read (a class of the same name there before
// ours is what only a crafted path has, and crafting one gains nothing that
// running our jar would not); the installation's own jars are.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include "base/text.h"
#include "evidence/evidence_steps.h"
#include "evidence/jar_entries.h"
#include "files/resolver.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {

// One entry as this host sees it: a jar, or a directory (of classes, or of
// jars for a wildcard) whose path ends in "/".
struct entry_here {
  std::string path;
  std::string named;  // as the process named it
  bool jars = false;  // a wildcard: the jars in the directory
  bool inside = false;
};

bool supplies(const entry_here& entry, const std::string& jar) {
  return entry.path.back() != '/'
             ? jar == entry.path
             : entry.jars && jar.compare(0, entry.path.size(), entry.path) == 0 &&
                   jar.find('/', entry.path.size()) == std::string::npos;
}

// Whether the installation's jar holds `entry` (nullopt: it cannot be told),
// read through a descriptor of this host's that is that very file.
std::optional<bool> installation_jar_holds(const std::string& path, const file_id& id,
                                           const std::string& entry) {
  const unique_fd jar(
      open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  return jar && id_of(jar.get()) == id ? jar_holds(jar.get(), entry) : std::nullopt;
}

}  // namespace

evidence class_path_evidence(const process_handle& process, const std::vector<std::string>& path,
                             const std::string& main_class, bool modules,
                             const installation& where) {
  // A class path of more entries than any launcher writes is crafted: each
  // entry costs a walk.
  constexpr std::size_t most_entries = 4096;
  if (path.size() > most_entries) {
    return {};
  }
  std::vector<entry_here> entries;
  std::set<std::string> walked;
  bool ours_named = false;
  for (const std::string& named : path) {
    if (!walked.insert(named).second) {
      continue;
    }
    const bool wildcard = ends_with(named, "/*");
    const std::string target = wildcard ? named.substr(0, named.size() - 2) : named;
    const unique_fd file = open_in_process_root(process, target, true, where);
    struct stat info {};
    if (!file || fstat(file.get(), &info) != 0) {
      continue;  // java passes over an entry that is not there
    }
    // A module path's directories hold jars; a class path's, classes.
    entry_here here{seen_here(file.get()) + (S_ISDIR(info.st_mode) ? "/" : ""), target,
                    wildcard || (modules && S_ISDIR(info.st_mode))};
    here.inside = lies_inside(here.path, where);
    ours_named = ours_named || here.inside;
    entries.push_back(std::move(here));
  }
  if (!ours_named) {
    return {};
  }
  // The jars of the class path it holds, once: a JVM holds many other files.
  std::map<std::string, file_id> held;
  visit_open_files(
      process, most_listed,
      [&entries](const std::string& jar) {
        return std::any_of(entries.begin(), entries.end(),
                           [&jar](const entry_here& entry) { return supplies(entry, jar); });
      },
      [&held](const open_file& jar) {
        held.emplace(jar.path, file_id{jar.device, jar.inode});
        return true;
      });
  const std::string wanted = main_class.empty() ? "" : class_entry(main_class);
  const auto not_proven = [&entries]() {
    evidence unsure;
    const bool all_ours = std::all_of(entries.begin(), entries.end(),
                                      [](const entry_here& entry) { return entry.inside; });
    unsure.unproven =
        all_ours ? unproven::class_path_jars_not_open : unproven::main_class_not_proven;
    return unsure;
  };
  bool elsewhere_before = false;  // an entry elsewhere that may have supplied it
  for (const entry_here& entry : entries) {
    if (entry.path.back() == '/' && !entry.jars) {
      // Classes in a directory are read and let go: nothing holds them.
      if (wanted.empty() ||
          open_in_process_root(process, entry.named + "/" + wanted, true, where)) {
        if (entry.inside) {
          return not_proven();
        }
        if (!wanted.empty()) {
          return {};  // supplied from elsewhere
        }
        elsewhere_before = true;
      }
      continue;
    }
    bool reached = false;
    for (const auto& [jar, id] : held) {
      if (!supplies(entry, jar)) {
        continue;
      }
      reached = true;
      const std::optional<std::string> ours = entry.inside ? indexed(id, where) : std::nullopt;
      if (!ours && entry.inside) {
        return not_proven();  // ours by its name alone: no proof, and not read
      }
      if (!ours) {
        elsewhere_before = true;
        continue;
      }
      // Without a main class (a module's own), the installation's jar it holds.
      const std::optional<bool> has_it =
          wanted.empty() ? std::optional(true) : installation_jar_holds(jar, id, wanted);
      if (!has_it) {
        return not_proven();
      }
      if (*has_it) {
        evidence found;
        found.file = ours;
        found.kernel_name = jar;
        return found;
      }
    }
    if (!reached) {
      // The JVM never looked here: the main class came from before.
      return elsewhere_before ? evidence() : not_proven();
    }
  }
  return elsewhere_before ? evidence() : not_proven();
}

}  // namespace corvane_host
