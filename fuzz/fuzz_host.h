// A host for the fuzz targets: an in-memory session, the log as formatted
// lines, a scripted process list and directory, and a kill() that records
// instead of signalling.
#ifndef CORVANE_FUZZ_HOST_H
#define CORVANE_FUZZ_HOST_H

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "host-services.h"
#include "session.h"

namespace fuzz_host {

struct state {
  session_t session;
  std::vector<std::string> log;
  proc_map_t processes;
  std::string directory;           // what get_dirname returns
  std::vector<int> kills;          // every pid kill() was given
  std::uint8_t kill_failures = 0;  // bit k % 8 set: the k-th kill() fails
};

// Reset for every input.
state& reset();
state& current();

// The reference case folding: tolower() of each byte, as unsigned.
std::string lowered(std::string text);

// The reference parse: std::getline on ";" and operator>> per token, -1 on failure.
std::vector<int> stream_parse(const std::string& list);

// Stops the run with a message; libFuzzer reports the input.
[[noreturn]] void fail(const char* what);

}  // namespace fuzz_host

#endif
