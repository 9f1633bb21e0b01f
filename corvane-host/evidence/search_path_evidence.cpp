// SPDX-License-Identifier: MIT
// Where an interpreter finds code beyond its command line: the search path it
// was started with (its environment), and for python -m the working directory
// the kernel holds for it. The environment is the process's own to choose, a
// hint; the working directory is the kernel's, like a held descriptor.
#include <fcntl.h>

#include <algorithm>
#include <filesystem>

#include "base/kernel_file.h"
#include "evidence/evidence_steps.h"
#include "files/resolver.h"
#include "proc/environ_parse.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {

// Entries of a search path beyond what anyone writes are crafted: each costs a walk.
constexpr std::size_t most_entries = 256;

bool under(const std::string& path, const std::vector<std::string>& directories) {
  return std::any_of(directories.begin(), directories.end(), [&path](const std::string& directory) {
    return path.compare(0, directory.size(), directory) == 0;
  });
}

// The entries of a search path that lead, in the process's view, into the
// installation: as this host sees them, each ending in "/".
std::vector<std::string> entries_inside(const process_handle& process, std::string_view value,
                                        const installation& where) {
  std::vector<std::string> inside;
  const std::vector<std::string_view> entries = search_path_entries(value);
  if (value.empty() || entries.size() > most_entries) {
    return inside;
  }
  for (const std::string_view entry : entries) {
    const unique_fd directory = open_in_process_root(process, std::string(entry), true, where);
    const std::string here = directory ? seen_here(directory.get()) + "/" : "";
    if (lies_inside(here, where)) {
      inside.push_back(here);
    }
  }
  return inside;
}

// A file of the installation under one of `directories` that the process
// holds open or maps: what confirms that it took code from there.
evidence confirmed_under(const process_handle& process, const std::vector<std::string>& directories,
                         const installation& where) {
  evidence found;
  visit_open_files(
      process, most_listed, [&](const std::string& path) { return under(path, directories); },
      [&](const open_file& file) {
        if ((found.file = indexed({file.device, file.inode}, where))) {
          found.kernel_name = file.path;
        }
        return !found.file;
      });
  if (found.file) {
    return found;
  }
  for (mapped_of_installation& mapped : mapped_files(process, where, false)) {
    if (under(mapped.path, directories)) {
      found.file = std::move(mapped.file);
      found.kernel_name = std::move(mapped.path);
      return found;
    }
  }
  found.unproven = unproven::search_path_unconfirmed;
  return found;
}

// "a.b" as a module name python would read; "a/b" then.
std::optional<std::string> module_path(const std::string& name) {
  const bool valid =
      !name.empty() && name.front() != '.' && name.back() != '.' &&
      name.find("..") == std::string::npos && std::all_of(name.begin(), name.end(), [](char c) {
        return c == '.' || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
               (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80;
      });
  if (!valid) {
    return std::nullopt;
  }
  std::string path = name;
  std::replace(path.begin(), path.end(), '.', '/');
  return path;
}

// The module's file in `directory` (a path in the process's view), as python
// finds it: a package's __main__.py, or the module's own file.
unique_fd module_file(const process_handle& process, const std::string& directory,
                      const std::string& module, const installation& where) {
  const std::string stem = directory + "/" + module;
  for (const char* ending : {"/__main__.py", ".py"}) {
    unique_fd file = open_in_process_root(process, stem + ending, true, where);
    if (file) {
      return file;
    }
  }
  return unique_fd();
}

}  // namespace

std::string started_with(const process_handle& process) {
  return read_whole_file_at(process.proc_dir(), "environ", most_exec_bytes).text;
}

evidence search_path_evidence(const process_handle& process, const std::string& program,
                              std::string_view environ, const installation& where) {
  const std::string_view variable = search_path_variable(program);
  const std::optional<std::string_view> value =
      variable.empty() ? std::nullopt : environment_value(environ, variable);
  const std::vector<std::string> inside =
      value ? entries_inside(process, *value, where) : std::vector<std::string>();
  return inside.empty() ? evidence() : confirmed_under(process, inside, where);
}

evidence module_evidence(const process_handle& process, const program_words& runs,
                         std::string_view environ, const installation& where) {
  const std::optional<std::string> module = module_path(runs.files.front());
  if (!module) {
    return {};
  }
  // The working directory first, as python puts it first in sys.path.
  const bool safe_path =
      runs.no_working_directory ||
      (!runs.no_environment &&
       !environment_value(environ, "PYTHONSAFEPATH").value_or(std::string_view()).empty());
  if (!safe_path) {
    const unique_fd file = module_file(process, ".", *module, where);
    const std::optional<file_id> id = file ? id_of(file.get()) : std::nullopt;
    if (id) {
      evidence found;
      if ((found.file = indexed(*id, where))) {
        found.kernel_name = seen_here(file.get());
      } else if (lies_inside(seen_here(file.get()), where)) {
        found.unproven = unproven::script_where_others_write;
      }
      return found;
    }
  }
  const std::optional<std::string_view> python_path =
      runs.no_environment ? std::nullopt : environment_value(environ, "PYTHONPATH");
  if (!python_path || python_path->empty() ||
      search_path_entries(*python_path).size() > most_entries) {
    return {};
  }
  for (const std::string_view entry : search_path_entries(*python_path)) {
    const unique_fd file = module_file(process, std::string(entry), *module, where);
    if (file) {
      // Found there: ours only if it lies in the installation, and proven only
      // by what the process holds or maps from that entry.
      const std::vector<std::string> inside = entries_inside(process, entry, where);
      return inside.empty() ? evidence() : confirmed_under(process, inside, where);
    }
  }
  return {};
}

}  // namespace corvane_host
