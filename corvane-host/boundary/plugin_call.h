// SPDX-License-Identifier: MIT
// One call of the plug-in: what the host services need for it and what they
// leave behind, in one object its caller keeps on the stack around the call.
// The C interface hands get_process_list() and kill() no argument to carry
// it, so while the plug-in runs the call is bound to the calling thread
// (call_scope), and outside calls nothing is: a service called from another
// thread, or with no call in progress, sees none.
#ifndef CORVANE_HOST_PLUGIN_CALL_H
#define CORVANE_HOST_PLUGIN_CALL_H

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "base/time_bound.h"

#include "ending/verified_signals.h"
#include "evidence/process_scan.h"

namespace corvane_host {

// What the calls of one run share.
struct call_basics {
  std::FILE* log = stderr;  // where print_log() writes; the stream stays the caller's
  int proc_fd = -1;         // the /proc the scan reads
  // How long the run waits for file systems; none: without bound.
  std::shared_ptr<time_bound> time;
};

// A host service, or kill(), as a failure names it.
enum class service {
  env_exists,
  env_get_string,
  env_set_string,
  print_log,
  get_process_list,
  path,
  get_dirname,
  kill
};
const char* name_of(service which);

// A service whose work threw. The plug-in was handed an error in its place
// (an empty value or list, kill() -1 with errno): what it did after that
// cannot be taken for what it meant to do.
struct service_failure {
  corvane_host::service service = service::env_exists;
  std::exception_ptr error;
};

struct plugin_call {
  explicit plugin_call(const call_basics& basics) : basics(basics) {}
  plugin_call(const plugin_call&) = delete;
  plugin_call& operator=(const plugin_call&) = delete;
  ~plugin_call() = default;

  // What the services need.
  call_basics basics;
  // get_process_list() hands the plug-in the processes that run a file of
  // `where`, each under the kernel's path of that file; nothing else, so the
  // plug-in's case folding cannot reach another directory's programs. None:
  // an empty list.
  std::optional<installation> where;
  bool files_in_use = false;  // the scan also lists who holds the files open
  // kill() signals only these, verified; none (a check): the system call.
  std::optional<signal_scope> signals;
  // For tests: called first in each service's work, to make it throw.
  void (*fault)(service) = nullptr;

  // What they leave behind.
  std::optional<installation_scan> scan;   // the last get_process_list()'s, whole
  std::optional<service_failure> failure;  // the first service whose work threw
};

// Binds `call` to this thread for as long as it lives, and writes out its
// log when it ends.
class call_scope {
 public:
  explicit call_scope(plugin_call& call) noexcept;
  call_scope(const call_scope&) = delete;
  call_scope& operator=(const call_scope&) = delete;
  ~call_scope();

 private:
  plugin_call* outer_;
};

// The call in progress on this thread; null outside calls.
plugin_call* call_in_progress() noexcept;

// The words for what an exception says: "out of memory" for std::bad_alloc.
std::string what_of(const std::exception_ptr& error);

}  // namespace corvane_host

#endif
