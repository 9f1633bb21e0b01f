// SPDX-License-Identifier: MIT
// The host services, as the reference host offers them to the plug-in. These
// are the only symbols the host exports (see services.dynamic-list).
#include "boundary/services.h"

#include <cstdarg>
#include <optional>
#include <string>

#include "host-services.h"
#include "files/paths.h"
#include "files/resolver.h"
#include "files/session.h"
#include "base/text.h"

namespace corvane_host {
namespace {

std::FILE*& log_stream() {
  static std::FILE* stream = stderr;
  return stream;
}

struct scan_state {
  std::optional<installation> where;
  bool files_in_use = false;
  installation_scan last;
};

scan_state& scans() {
  static scan_state state;
  return state;
}

}  // namespace

void set_log_stream(std::FILE* stream) { log_stream() = stream; }

void scan_for(const installation& where, bool files_in_use) { scans() = {where, files_in_use, {}}; }

const installation_scan& last_scan() { return scans().last; }

}  // namespace corvane_host

// A key never set reads as "".
bool env_exists(session_t* session, const char* key) { return session->values.count(key) != 0; }

std::string env_get_string(session_t* session, const char* key) {
  return corvane_host::value_of(*session, key);
}

void env_set_string(session_t* session, const std::string& key, const std::string& value) {
  session->values[key] = value;
}

void print_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = corvane_host::vformat(format, args);
  va_end(args);
  const std::string line = corvane_host::printable(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), corvane_host::log_stream());
  std::fflush(corvane_host::log_stream());
}

proc_map_t get_process_list() {
  corvane_host::scan_state& state = corvane_host::scans();
  if (!state.where) {
    return {};  // no installation was named: nothing belongs to it
  }
  state.last =
      corvane_host::scan_installation(corvane_host::host_proc(), *state.where, state.files_in_use);
  return state.last.ours;
}

// The by-value parameter is the installer's published signature.
std::string path(std::string p) {  // NOLINT(performance-unnecessary-value-param)
  return corvane_host::normal_path(p);
}

std::string get_dirname(const std::string& p) { return corvane_host::directory_of(p); }
