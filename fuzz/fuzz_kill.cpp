// kill_corvane, whatever RUNNING_PROC_LIST holds: kill() never sees an ID
// <= 0, every element gets its "process ID" line, and the result is the
// outcome of the last element acted on.
#include <fuzzer/FuzzedDataProvider.h>

#include "corvane-kill.h"
#include "fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  fuzz_host::state& host = fuzz_host::reset();
  host.kill_failures = input.ConsumeIntegral<std::uint8_t>();
  const std::string value = input.ConsumeRemainingBytesAsString();
  host.session.values["RUNNING_PROC_LIST"] = value;

  const int result = kill_corvane(&host.session);

  int expected_result = -1;
  std::vector<int> expected_kills;
  std::vector<std::string> id_lines;
  for (const int pid : fuzz_host::stream_parse(value)) {
    id_lines.push_back("corvane_killer: process ID: " + std::to_string(pid));
    if (pid == -1) continue;
    if (pid <= 0) {
      expected_result = -1;
      continue;
    }
    const bool fails = (host.kill_failures >> (expected_kills.size() % 8)) & 1U;
    expected_kills.push_back(pid);
    expected_result = fails ? -1 : 0;
  }
  for (const int pid : host.kills) {
    if (pid <= 0) fuzz_host::fail("kill() reached a process group");
  }
  if (host.kills != expected_kills) fuzz_host::fail("other processes were signalled");
  std::vector<std::string> logged_ids;
  for (const std::string& line : host.log) {
    if (line.rfind("corvane_killer: process ID: ", 0) == 0) logged_ids.push_back(line);
  }
  if (logged_ids != id_lines) fuzz_host::fail("an element lacks its process ID line");
  if (result != expected_result) fuzz_host::fail("the result is not the last outcome");
  if (host.session.values["RUNNING_PROC_LIST"] != value) fuzz_host::fail("the list was changed");
  return 0;
}
