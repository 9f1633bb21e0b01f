// SPDX-License-Identifier: MIT
// What the loader runs is only mapped: /proc/PID/exe is the loader, and the
// kernel's own proof of the program is its executable mapping, known by
// device and inode.
#include <sys/sysmacros.h>

#include <filesystem>

#include "base/kernel_file.h"
#include "base/text.h"
#include "evidence/evidence_steps.h"
#include "files/resolver.h"
#include "proc/proc_parse.h"
#include "proc/proc_table.h"

namespace corvane_host {
namespace {}  // namespace

std::vector<mapped_of_installation> mapped_files(const process_handle& process,
                                                 const installation& where, bool code_only) {
  std::vector<mapped_of_installation> found;
  for (mapped_file& file :
       parse_maps_files(read_file_at(process.proc_dir(), "maps", most_maps_bytes).text)) {
    const file_id id{makedev(file.major, file.minor), static_cast<ino_t>(file.inode)};
    std::optional<std::string> ours =
        code_only && !file.executable ? std::nullopt : indexed(id, where);
    if (ours) {
      found.push_back({std::move(file.path), std::move(*ours), id});
    }
  }
  return found;
}

evidence loader_evidence(const process_handle& process, const std::string& program,
                         const installation& where) {
  evidence found;
  // The name is the process's; the mapping shows which file it named: the
  // one the name leads to now, or one the kernel names as the name ends (a
  // relative name from a working directory it has left since).
  const std::string normal = std::filesystem::path(program).lexically_normal().string();
  const std::string tail = program.front() == '/' ? normal : "/" + normal;
  const unique_fd named = open_in_process_root(process, program, true, where);
  const std::optional<file_id> named_id = named ? id_of(named.get()) : std::nullopt;
  for (mapped_of_installation& code : mapped_files(process, where, true)) {
    if (code.id == named_id || ends_with(code.path, tail)) {
      found.file = std::move(code.file);
      found.kernel_name = std::move(code.path);
      return found;
    }
  }
  if (named_id && indexed(*named_id, where)) {
    found.unproven = unproven::loader_program_not_mapped;
  }
  return found;
}

}  // namespace corvane_host
