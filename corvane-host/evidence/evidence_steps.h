// SPDX-License-Identifier: MIT
// The steps of a proof that the kinds of evidence share, and the evidence of
// interpreters and the loader, each in a file of its own: what a process's
// names reach in its own view, a file's place in the installation, what it
// holds, maps and was started with.
#ifndef CORVANE_HOST_EVIDENCE_EVIDENCE_STEPS_H
#define CORVANE_HOST_EVIDENCE_EVIDENCE_STEPS_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_id.h"
#include "base/unique_fd.h"
#include "evidence/installation.h"
#include "evidence/interpreters.h"
#include "evidence/process_evidence.h"
#include "proc/process_handle.h"

namespace corvane_host {

// --- names_in_process.cpp ---------------------------------------------------

// Where this host sees a file it holds open.
std::string seen_here(int fd);
// The installation's path of a file, found by its identity in the index.
std::optional<std::string> indexed(const file_id& id, const installation& where);
// `path` walked in the process's own view (relative ones against its working
// directory), judged for its own user where it leads to the installation;
// `elsewhere`, when given, is set where it leads outside the installation.
unique_fd open_in_process_root(const process_handle& process, const std::string& path, bool follow,
                               const installation& where, bool* elsewhere = nullptr);

// --- script_evidence.cpp ------------------------------------------------------

// A file gone from every directory that the process still reaches, known by
// the kernel's name for it (" (deleted)" taken off) and its device: the
// installation's where that name proves it.
evidence former_file(const process_handle& process, std::string name, dev_t device,
                     const installation& where);
// The script `script` that the interpreter `program` names.
evidence script_evidence(const process_handle& process, const std::string& program,
                         const std::string& script, const installation& where);

// --- search_path_evidence.cpp -------------------------------------------------

// What the process was started with: its environment's text, read as its
// command line is (bounded by what an exec takes); "" where it cannot be read.
std::string started_with(const process_handle& process);
// An interpreter whose search path from its environment leads into the
// installation: proven by a file of the installation it holds open or maps
// under one of those entries, otherwise not proven.
evidence search_path_evidence(const process_handle& process, const std::string& program,
                              std::string_view environ, const installation& where);
// python -m: the module found where python looks first, the working directory
// the kernel holds for the process, then PYTHONPATH.
evidence module_evidence(const process_handle& process, const program_words& runs,
                         std::string_view environ, const installation& where);

// --- class_path_evidence.cpp --------------------------------------------------

// A JVM: the entry of its class path (or module path, `modules`) that
// supplies its main class decides.
evidence class_path_evidence(const process_handle& process, const std::vector<std::string>& path,
                             const std::string& main_class, bool modules,
                             const installation& where);

// --- mapped_code.cpp ----------------------------------------------------------

// A file of the installation that the process maps, read from /proc/PID/maps
// (only where needed: a maps read costs more than the rest of a look).
struct mapped_of_installation {
  std::string path;  // as the kernel names it
  std::string file;  // its path in the installation
  file_id id;
};
std::vector<mapped_of_installation> mapped_files(const process_handle& process,
                                                 const installation& where, bool code_only);
// The dynamic loader: the program its command line names (`program`),
// proven by its executable mapping.
evidence loader_evidence(const process_handle& process, const std::string& program,
                         const installation& where);

}  // namespace corvane_host

#endif
