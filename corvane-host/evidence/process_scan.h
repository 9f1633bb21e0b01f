// SPDX-License-Identifier: MIT
// Which processes run a file of the installation, read from /proc. A process
// belongs to the installation when the file it runs (its executable, or the
// script or program that an interpreter or the dynamic loader runs for it)
// lies inside the installation's directory as this host's mount namespace
// sees it: the same file, not the same spelling. What a process shows in
// /proc is its own to choose and is only read, never trusted as an identity.
#ifndef CORVANE_HOST_PROCESS_SCAN_H
#define CORVANE_HOST_PROCESS_SCAN_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "evidence/installation.h"
#include "host-services.h"
#include "proc/process_handle.h"

namespace corvane_host {

// A process of the installation that is never recorded or signalled.
struct spared_process {
  pid_t pid = 0;
  std::string command;
  std::string reason;
};

// A process that runs no program of the installation but maps or holds open
// some of its files.
struct files_user {
  pid_t pid = 0;
  std::string program;
  std::vector<std::string> files;
  bool runs_code = false;  // it maps one of them executable: it runs code of the installation
};

struct installation_scan {
  proc_map_t ours;  // ID to the installation's file it runs, by its path inside it
  std::map<pid_t, process_identity> identities;  // who each of `ours` was when it was decided on
  std::map<pid_t, std::string> names;            // where the kernel names that file otherwise
  std::vector<spared_process> spared;            // this host and the processes that called it
  std::map<std::string, int> uninspected;        // why a program could not be identified: how many
  std::vector<files_user> using_files;           // only when asked for
  std::string hidden;  // why the /proc read hides processes from this caller, if it does
  // The pins that decided on `ours`, kept while descriptors allow: a look at
  // them right after the scan needs no pin of its own.
  std::map<pid_t, process_handle> held;
};

// Reads every process. Kernel threads and zombies run no program and are
// passed over; every other process whose program cannot be identified is
// counted in `uninspected`.
// `proc_fd` is the /proc to read: the one the command opened for its run.
installation_scan scan_installation(int proc_fd, const installation& where, bool files_in_use);

// Throws failure when the /proc `proc_fd` is not this pid
// namespace's: the IDs read there would not be the IDs this host signals.
void ensure_own_proc(int proc_fd);

}  // namespace corvane_host

#endif
