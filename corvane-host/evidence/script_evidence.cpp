// SPDX-License-Identifier: MIT
// The file a process runs or reads its program from when that file has no
// name left, and the script an interpreter names.
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "base/text.h"
#include "evidence/evidence_steps.h"
#include "files/resolver.h"
#include "proc/mounts.h"
#include "proc/proc_parse.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {

std::string file_name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string lexically_normal(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

// Shells hold their script open for as long as they run it: for them the
// held file is the proof, whatever the name leads to now.
bool is_shell(const std::string& program) {
  static const std::set<std::string, std::less<>> shells = {"sh",  "bash", "dash", "zsh",
                                                            "ksh", "mksh", "ash"};
  return shells.count(program) != 0;
}

// Whether the process holds the file `id` open.
bool holds(const process_handle& process, const file_id& id) {
  bool found = false;
  visit_open_files(
      process, most_listed, [](const std::string& path) { return !path.empty() && path[0] == '/'; },
      [&](const open_file& file) {
        found = file_id{file.device, file.inode} == id;
        return !found;
      });
  return found;
}

// A file gone from every directory that the process still reaches (what it
// runs, a script it holds): the installation's when its last path (the
// kernel's name for it, " (deleted)" taken off) lay inside the directory, the
// process runs in this host's root, and the file lies on the installation's
// file system. The name proves it only where it lay in a directory that no
// one but root and the installation's owner may change; in one others may
// write it proves nothing, and where its directory is gone too, whose it was
// is told by nothing.
}  // namespace

evidence former_file(const process_handle& process, std::string name, dev_t device,
                     const installation& where) {
  evidence former;
  if (ends_with(name, std::string(deleted_mark))) {
    name.resize(name.size() - deleted_mark.size());
  }
  // Its root's facts, taken without asking the file system it lies on.
  const reached_file root = reach_at(process.proc_dir(), "root");
  if (!lies_inside(name, where) || root.error != 0 || id_from(root.facts) != where.host_root ||
      device != where.directory_id.device) {
    return former;
  }
  // Its name is the kernel's in the process's mount namespace, where a user
  // who made that namespace may have mounted anything at the installation's
  // paths: it tells where the file lay only in one a privileged process made.
  if (!mounts_of_the_hosts_user_namespace(process.proc_dir())) {
    return former;
  }
  std::string directory = name.substr(0, name.rfind('/'));
  if (where.files->is_vouched_directory(directory)) {
    former.file = std::move(name);
    return former;
  }
  // Gone with its directory: whose that was is told by nothing, unless the
  // nearest directory left is one that others may write.
  bool gone = false;
  while (!directory.empty() && !id_at(directory, false)) {
    gone = true;
    directory.resize(directory.rfind('/'));
  }
  if (gone && where.files->is_vouched_directory(directory.empty() ? "/" : directory)) {
    former.unproven = unproven::directory_gone;
  }
  return former;
}

namespace {

// The script an upgrade deleted or replaced while the process runs it: a
// shell reads its script through a descriptor it keeps, so the file it holds
// under the script's name, with no link left, is the proof.
evidence deleted_script(const process_handle& process, const std::string& script,
                        const installation& where) {
  const std::string held_name = "/" + file_name_of(script) + std::string(deleted_mark);
  evidence found;
  visit_open_files(
      process, most_listed,
      [&held_name](const std::string& path) { return ends_with(path, held_name); },
      [&](const open_file& file) {
        if (file.links == 0) {
          found = former_file(process, file.path, file.device, where);
          found.kernel_name = found.file ? file.path : "";
        }
        return !found.file;
      });
  return found;
}

}  // namespace

// The script an interpreter names. A shell keeps its script open: the file
// it holds decides, not the name, which others may have pointed elsewhere
// since. Without a handle, an absolute name must lead, inside the process's
// root, to a regular file of the installation; a relative one proves
// nothing, as the working directory may have changed since, in either
// direction.
evidence script_evidence(const process_handle& process, const std::string& program,
                         const std::string& script, const installation& where) {
  evidence found;
  const bool absolute = script.front() == '/';
  const std::string tail = absolute ? lexically_normal(script) : "/" + lexically_normal(script);
  std::optional<file_id> held;
  if (absolute) {
    bool elsewhere = false;
    const unique_fd file = open_in_process_root(process, script, true, where, &elsewhere);
    if (elsewhere) {
      return found;  // neither a file of the installation nor one inside it
    }
    struct stat info {};
    // A shell whose script's name leads to the installation now, but which
    // holds no such file, runs another script: the name was changed since.
    if (file && fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) &&
        !(is_shell(program) && indexed(id_from(info), where) && !holds(process, id_from(info)))) {
      held = id_from(info);
      found.kernel_name = seen_here(file.get());
    }
  } else {
    const auto named = [&tail](const std::string& path) { return ends_with(path, tail); };
    visit_open_files(process, most_listed, named, [&](const open_file& file) {
      held = file_id{file.device, file.inode};  // its script, wherever it lies
      found.kernel_name = file.path;
      return false;
    });
  }
  if (!held) {
    if (evidence deleted = deleted_script(process, script, where);
        deleted.file || deleted.unproven) {
      return deleted;
    }
  }
  if (held || absolute) {
    found.file = held ? indexed(*held, where) : std::nullopt;
    // Its name leads into the installation, to nothing: a script deleted
    // under an interpreter that read it and let it go (python does).
    if (!held && lies_inside(tail, where) && !process_names(process.proc_dir()).open(script, {})) {
      found.unproven = unproven::script_gone_unheld;
    }
    // The installation's file by name here, in a directory others may write.
    if (!found.file && held && lies_inside(found.kernel_name, where) &&
        id_at(found.kernel_name) == *held) {
      found.unproven = unproven::script_where_others_write;
    }
    return found;
  }
  // No handle: it may be the installation's, if the name leads there now or
  // names one of its files (a daemon changes to "/" once started).
  const file_text cwd = read_link_at(process.proc_dir(), "cwd");
  if ((cwd.error == 0 && lies_inside(lexically_normal(cwd.text + "/" + script), where)) ||
      where.files->has_path_ending(tail)) {
    found.unproven = unproven::relative_script_unheld;
  }
  return found;
}

}  // namespace corvane_host
