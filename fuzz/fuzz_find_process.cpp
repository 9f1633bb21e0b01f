// SPDX-License-Identifier: MIT
// find_process selects exactly what the plain reference selects (lower-case
// everything, test the prefix, test the three suffixes), with the same
// lower-cased commands and one log line each, for any bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include "corvane-kill.h"
#include "fake_host.h"
#include "fuzz_input.h"
#include "fuzz_reference.h"

namespace {

bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool selected_by_reference(const std::string& folded, const std::string& folded_directory) {
  return folded.compare(0, folded_directory.size(), folded_directory) == 0 &&
         folded.size() >= folded_directory.size() && !ends_with(folded, "install.exe") &&
         !ends_with(folded, "/install_gui") && !ends_with(folded, "/install.sh");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  fake::host() = {};
  const std::string directory = input.ConsumeRandomLengthString(64);
  const proc_map_t processes = fuzz_input::processes(input, directory);

  const proc_map_t selected = find_process(processes, directory);

  proc_map_t expected;
  std::vector<std::string> expected_log;
  const std::string folded_directory = fuzz_reference::lowered(directory);
  for (const auto& [pid, command] : processes) {
    const std::string folded = fuzz_reference::lowered(command);
    if (!selected_by_reference(folded, folded_directory)) {
      continue;
    }
    expected[pid] = folded;
    // printf's %s ends at the first NUL byte.
    expected_log.push_back("corvane_killer: process: " + std::string(folded.c_str()) +
                           " is going to be killed");
  }
  if (selected != expected) {
    fuzz_reference::fail("find_process selects otherwise than the reference");
  }
  if (fake::log_lines() != expected_log) {
    fuzz_reference::fail("find_process logs otherwise");
  }
  return 0;
}
