// check_running_corvane records the selected IDs so that proc_str_to_list
// reads back exactly those IDs (-1 left out), with the commands in the same
// order, and raises the prerequisite exactly when it recorded one.
#include <fuzzer/FuzzedDataProvider.h>

#include "corvane-kill.h"
#include "fuzz_host.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  fuzz_host::state& host = fuzz_host::reset();
  host.directory = input.ConsumeRandomLengthString(16);
  host.processes = fuzz_input::processes(input, host.directory);
  host.session.values["CORVANE_PATH"] = "/corvane";

  // The selection itself is the other target's property.
  const proc_map_t selected = find_process(host.processes, host.directory);
  if (check_running_corvane(&host.session) != 0) fuzz_host::fail("the check returned non-zero");

  std::vector<int> ids;
  std::string names = "\n";
  for (const auto& [pid, command] : selected) {
    if (pid == -1) continue;
    ids.push_back(pid);
    names += command + "\n";
  }
  auto& values = host.session.values;
  if (proc_str_to_list(values["RUNNING_PROC_LIST"]) != ids) {
    fuzz_host::fail("RUNNING_PROC_LIST does not read back as the recorded IDs");
  }
  if (values["corvane_killer_RUNNING_PROC_NAMES"] != names) {
    fuzz_host::fail("the process-name list differs");
  }
  const bool raised = values.count("SHORT_DESC") != 0;
  if (raised != !ids.empty()) fuzz_host::fail("the prerequisite does not follow the records");
  return 0;
}
