// SPDX-License-Identifier: MIT
// kill_corvane, whatever RUNNING_PROC_LIST holds, makes exactly the host calls
// of a plain reference: each ";" token read as stream extraction reads it (-1
// where that fails) and logged, SIGTERM for each positive ID and nothing else,
// each outcome logged and the last returned, the list left as it was; any host
// exception passes at once. The fake kill() answers 0 for even IDs, -1 for odd.
#include <cstdint>

#include "corvane-kill.h"
#include "fake_host.h"
#include "fuzz_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fuzz_reference::log_call;
  const std::string value(reinterpret_cast<const char*>(data), size);
  fake::host_state& host = fake::host();
  const auto prepare = [&] {
    host = {};
    host.session.values["RUNNING_PROC_LIST"] = value;
  };
  prepare();
  const int result = kill_corvane(&host.session);

  std::vector<std::string> calls = {log_call("kill-corvane entered"),
                                    "env_get_string RUNNING_PROC_LIST",
                                    log_call("running processes IDs: ", value)};
  int expected = -1;
  for (const int pid : fuzz_reference::stream_parse(value)) {
    calls.push_back(log_call("process ID: ", std::to_string(pid)));
    if (pid > 0) {
      calls.push_back("kill " + std::to_string(pid) + " 15");
      expected = pid % 2 == 0 ? 0 : -1;
      calls.push_back(log_call(expected == 0 ? "termination succeeded" : "termination failed: -1"));
    } else if (pid != -1) {
      calls.push_back(log_call("termination refused, not a single process: ", std::to_string(pid)));
      expected = -1;
    }
  }
  fuzz_reference::expect(host.calls == calls, "kill_corvane calls the host otherwise");
  fuzz_reference::expect(result == expected, "the result is not the last outcome");
  fuzz_reference::expect(host.session.values["RUNNING_PROC_LIST"] == value, "the list was changed");
  fuzz_reference::expect_host_exceptions_to_pass(
      prepare, [&] { kill_corvane(&host.session); }, value);
  return 0;
}
