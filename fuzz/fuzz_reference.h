// SPDX-License-Identifier: MIT
// What the fuzz targets hold the plug-in against: plain references built
// from the standard library, and the fault sweep.
#ifndef CORVANE_FUZZ_REFERENCE_H
#define CORVANE_FUZZ_REFERENCE_H

#include <cctype>
#include <cstddef>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "fuzz_expect.h"

#ifdef CORVANE_FUZZ_ONE_FAULT
// Under libFuzzer, no allocation stacks: recording one for every allocation
// costs a sixth of the speed, and the ctest build replays a finding with them.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the sanitizer runtime looks it up by this name.
extern "C" const char* __asan_default_options() { return "malloc_context_size=0"; }
#endif

namespace fuzz_reference {

// tolower() of each byte, as unsigned.
inline std::string lowered(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// std::getline on ";" and operator>> per token, -1 where that fails.
inline std::vector<int> stream_parse(const std::string& list) {
  std::vector<int> ids;
  std::istringstream stream(list);
  for (std::string token; std::getline(stream, token, ';');) {
    std::istringstream one(token);
    int value = 0;
    ids.push_back(one >> value ? value : -1);
  }
  return ids;
}

// A log call as the fake host records it; "%s" ends at the first NUL byte.
inline std::string log_call(const std::string& prefix, const std::string& text = "") {
  // NOLINTNEXTLINE(readability-redundant-string-cstr): the cut at a NUL byte is the point.
  return "log corvane_killer: " + prefix + std::string(text.c_str());
}

// The fault sweep, after a first run of `run` on `input`: a host call of `run` throws, and the
// exception must pass at once, with no host call after it (the sanitizers and valgrind watch for
// leaks). Replayed seeds sweep every call; under libFuzzer each input sweeps one, that its hash
// picks among the calls the first run made. Nothing is kept between inputs: libFuzzer looks for
// leaks whenever an input leaves more allocations than it frees.
template <typename Prepare, typename Run>
void expect_host_exceptions_to_pass(Prepare prepare, Run run, const std::string& input) {
  long first = 1;
  long last = -1;
#ifdef CORVANE_FUZZ_ONE_FAULT
  const auto calls = static_cast<std::size_t>(fake::host().call_count + 1);
  first = last = 1 + static_cast<long>(std::hash<std::string>{}(input) % calls);
#else
  (void)input;
#endif
  for (long n = first; last < 0 || n <= last; ++n) {
    prepare();
    fake::host().recording = false;  // only the count matters here
    fake::host().throw_at_call = n;
    try {
      run();
      break;
    } catch (const fake::host_failure&) {
      expect(fake::host().call_count == n, "a host call after the one that threw");
    }
  }
  fake::host() = {};
}

}  // namespace fuzz_reference

#endif
