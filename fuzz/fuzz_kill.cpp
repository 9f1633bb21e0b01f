// SPDX-License-Identifier: MIT
// kill_corvane, whatever RUNNING_PROC_LIST holds: kill() never sees an ID
// <= 0, every element gets its "process ID" line, and the result is the
// outcome of the last element acted on.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "corvane-kill.h"
#include "fake_host.h"
#include "fuzz_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  fake::host_state& host = fake::host() = {};
  // Bit k % 8 set: the k-th kill() fails. Every call is scripted, so none is sent.
  const auto failures = input.ConsumeIntegral<std::uint8_t>();
  const std::string value = input.ConsumeRemainingBytesAsString();
  const auto elements = static_cast<std::size_t>(std::count(value.begin(), value.end(), ';')) + 1;
  for (std::size_t k = 0; k < elements; ++k) {
    host.kill_results.push_back(((failures >> (k % 8)) & 1U) != 0 ? -1 : 0);
  }
  host.session.values["RUNNING_PROC_LIST"] = value;

  const int result = kill_corvane(&host.session);

  int expected_result = -1;
  std::vector<std::string> expected_kills;
  std::vector<std::string> id_lines;
  for (const int pid : fuzz_reference::stream_parse(value)) {
    id_lines.push_back("corvane_killer: process ID: " + std::to_string(pid));
    if (pid == -1) {
      continue;
    }
    if (pid <= 0) {
      expected_result = -1;
      continue;
    }
    const bool fails = ((failures >> (expected_kills.size() % 8)) & 1U) != 0;
    expected_kills.push_back(std::to_string(pid) + " 15");
    expected_result = fails ? -1 : 0;
  }
  if (fake::calls_of("kill") != expected_kills) {
    fuzz_reference::fail("kill() was called otherwise than for each positive element");
  }
  std::vector<std::string> logged_ids = fake::log_lines();
  logged_ids.erase(std::remove_if(logged_ids.begin(), logged_ids.end(),
                                  [](const std::string& line) {
                                    return line.rfind("corvane_killer: process ID: ", 0) != 0;
                                  }),
                   logged_ids.end());
  if (logged_ids != id_lines) {
    fuzz_reference::fail("an element lacks its process ID line");
  }
  if (result != expected_result) {
    fuzz_reference::fail("the result is not the last outcome");
  }
  if (host.session.values["RUNNING_PROC_LIST"] != value) {
    fuzz_reference::fail("the list was changed");
  }
  return 0;
}
