#include "fuzz_host.h"

#include <sys/types.h>
#include "text.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <sstream>

namespace fuzz_host {

state& current() {
  static state instance;
  return instance;
}

state& reset() { return current() = state{}; }

std::string lowered(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

std::vector<int> stream_parse(const std::string& list) {
  std::vector<int> ids;
  std::istringstream stream(list);
  for (std::string token; std::getline(stream, token, ';');) {
    std::istringstream one(token);
    int value = 0;
    ids.push_back(one >> value ? value : -1);
  }
  return ids;
}

void fail(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

}  // namespace fuzz_host

void print_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = corvane_host::vformat(format, args);
  va_end(args);
  fuzz_host::current().log.push_back(message);
}

proc_map_t get_process_list() { return fuzz_host::current().processes; }

std::string path(std::string p) { return p; }  // NOLINT(performance-unnecessary-value-param)

std::string get_dirname(const std::string& /*p*/) { return fuzz_host::current().directory; }

// Linked into the target in place of the C library's: nothing is signalled.
extern "C" int kill(pid_t pid, int /*signal*/) {
  fuzz_host::state& host = fuzz_host::current();
  const std::size_t k = host.kills.size();
  host.kills.push_back(pid);
  return (host.kill_failures >> (k % 8)) & 1U ? -1 : 0;
}
