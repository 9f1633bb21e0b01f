// SPDX-License-Identifier: MIT
// The host services, as the reference host offers them to the plug-in, and
// kill(). These are the only symbols the host exports (see
// services.dynamic-list). Each works on the call in progress and lets no
// exception into the plug-in's frames: what its work throws is kept in the
// call, and the plug-in is handed an error instead. A definition must agree
// with its declaration on noexcept, and the published ones carry none, so
// the services catch everything instead; the C library declares kill()
// noexcept, and so does its definition here.
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "base/text.h"
#include "boundary/plugin_call.h"
#include "files/paths.h"
#include "files/resolver.h"
#include "files/session.h"
#include "host-services.h"

namespace corvane_host {
namespace {

// Runs a service's work with the call in progress (null outside calls):
// 0, or the errno for what it threw, which the call keeps (the first only).
template <typename Work>
int guarded(service which, Work&& work) noexcept {
  plugin_call* const call = call_in_progress();
  try {
    if (call != nullptr && call->fault != nullptr) {
      call->fault(which);
    }
    std::forward<Work>(work)(call);
    return 0;
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    if (call != nullptr && !call->failure) {
      call->failure = service_failure{which, error};
    }
    try {
      std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
      return ENOMEM;
    } catch (...) {
      return EIO;
    }
  }
}

}  // namespace
}  // namespace corvane_host

using corvane_host::guarded;
using corvane_host::plugin_call;
using corvane_host::service;

// A key never set reads as "".
bool env_exists(session_t* session, const char* key) {
  bool exists = false;
  guarded(service::env_exists,
          [&](plugin_call* /*call*/) { exists = session->values.count(key) != 0; });
  return exists;
}

std::string env_get_string(session_t* session, const char* key) {
  std::string value;
  guarded(service::env_get_string,
          [&](plugin_call* /*call*/) { value = corvane_host::value_of(*session, key); });
  return value;
}

void env_set_string(session_t* session, const std::string& key, const std::string& value) {
  guarded(service::env_set_string, [&](plugin_call* /*call*/) {
    std::string copy = value;  // copied first: a failure leaves the session as it was
    session->values.insert_or_assign(key, std::move(copy));
  });
}

// One line per message, control bytes shown as \xHH so a message stays one
// line; standard error outside calls. Within a call that may signal, each
// line is written out at once, so the log says what was about to be done
// before any signal goes out; a check's lines are written out when its call
// ends (call_scope), not one system call each.
void print_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  guarded(service::print_log, [&](plugin_call* call) {
    const std::string line = corvane_host::printable(corvane_host::vformat(format, args)) + "\n";
    std::FILE* const stream = call != nullptr ? call->basics.log : stderr;
    std::fwrite(line.data(), 1, line.size(), stream);
    if (call == nullptr || call->signals) {
      std::fflush(stream);
    }
  });
  va_end(args);
}

// Empty outside calls and where the call names no installation.
proc_map_t get_process_list() {
  proc_map_t ours;
  guarded(service::get_process_list, [&](plugin_call* call) {
    if (call == nullptr || !call->where) {
      return;
    }
    corvane_host::installation_scan scan =
        corvane_host::scan_installation(call->basics.proc_fd, *call->where, call->files_in_use);
    proc_map_t copy = scan.ours;
    call->scan = std::move(scan);
    ours = std::move(copy);
  });
  return ours;
}

// The by-value parameter is the installer's published signature.
std::string path(std::string p) {  // NOLINT(performance-unnecessary-value-param)
  std::string normal;
  guarded(service::path, [&](plugin_call* /*call*/) { normal = corvane_host::normal_path(p); });
  return normal;
}

std::string get_dirname(const std::string& p) {
  std::string directory;
  guarded(service::get_dirname,
          [&](plugin_call* /*call*/) { directory = corvane_host::directory_of(p); });
  return directory;
}

// The plug-in's kill(), and every other in this program: within a call that
// names processes to signal, only those, verified; elsewhere the system call.
// Its parameters are named as ours are, not as the C library's header names them.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int kill(pid_t pid, int signal) noexcept {
  plugin_call* const call = corvane_host::call_in_progress();
  if (call == nullptr || !call->signals) {
    return static_cast<int>(syscall(SYS_kill, pid, signal));
  }
  std::optional<corvane_host::reason> failed;
  const int thrown = guarded(
      service::kill, [&](plugin_call* /*call*/) { failed = call->signals->send(pid, signal); });
  if (thrown != 0) {
    failed = corvane_host::reason{corvane_host::why::system_error, thrown};
    call->signals->note_failure(pid, *failed);
  }
  if (!failed) {
    return 0;
  }
  errno = corvane_host::error_of_reason(*failed);
  return -1;
}
