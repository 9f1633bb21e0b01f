// SPDX-License-Identifier: MIT
// Builds a process snapshot from fuzz input. Commands often start with the
// directory in another case, so the selection's deeper paths are reached.
#ifndef CORVANE_FUZZ_INPUT_H
#define CORVANE_FUZZ_INPUT_H

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <string>

#include "host-services.h"

namespace fuzz_input {

inline std::string case_flipped(FuzzedDataProvider& input, std::string text) {
  for (char& c : text) {
    if (input.ConsumeBool()) {
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return text;
}

inline proc_map_t processes(FuzzedDataProvider& input, const std::string& directory) {
  proc_map_t snapshot;
  while (input.remaining_bytes() > 0) {
    // A narrow range of IDs includes -1, 0 and duplicates.
    const int pid = input.ConsumeBool() ? input.ConsumeIntegralInRange<int>(-3, 8)
                                        : input.ConsumeIntegral<int>();
    std::string command = input.ConsumeBool() ? case_flipped(input, directory) : std::string();
    command += input.ConsumeRandomLengthString(64);
    snapshot[pid] = command;
  }
  return snapshot;
}

}  // namespace fuzz_input

#endif
