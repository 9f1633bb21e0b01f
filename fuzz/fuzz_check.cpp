// SPDX-License-Identifier: MIT
// check_running_corvane records the selected IDs so that proc_str_to_list
// reads back exactly those IDs (-1 left out), with the commands in the same
// order, and raises the prerequisite exactly when it recorded one.
#include <fuzzer/FuzzedDataProvider.h>

#include "corvane-kill.h"
#include "fake_host.h"
#include "fuzz_input.h"
#include "fuzz_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  fake::host_state& host = fake::host() = {};
  const std::string directory = input.ConsumeRandomLengthString(16);
  host.dirname = [directory](const std::string& /*root*/) { return directory; };
  host.processes = fuzz_input::processes(input, directory);
  host.session.values["CORVANE_PATH"] = "/corvane";

  // The selection itself is the other target's property.
  const proc_map_t selected = find_process(host.processes, directory);
  if (check_running_corvane(&host.session) != 0) {
    fuzz_reference::fail("the check returned non-zero");
  }

  std::vector<int> ids;
  std::string names = "\n";
  for (const auto& [pid, command] : selected) {
    if (pid != -1) {
      ids.push_back(pid);
      names += command + "\n";
    }
  }
  auto& values = host.session.values;
  if (proc_str_to_list(values["RUNNING_PROC_LIST"]) != ids) {
    fuzz_reference::fail("RUNNING_PROC_LIST does not read back as the recorded IDs");
  }
  if (values["corvane_killer_RUNNING_PROC_NAMES"] != names) {
    fuzz_reference::fail("the process-name list differs");
  }
  const bool raised = values.count("SHORT_DESC") != 0;
  if (raised != !ids.empty()) {
    fuzz_reference::fail("the prerequisite does not follow the records");
  }
  return 0;
}
