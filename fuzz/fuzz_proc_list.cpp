// SPDX-License-Identifier: MIT
// proc_str_to_list agrees with the standard library on every text: split as
// std::getline(stream, token, ';') splits, each token's value that of
// operator>> into an int, -1 where that fails. It never throws.
#include <cstdint>
#include <string>

#include "corvane-kill.h"
#include "fuzz_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (proc_str_to_list(text) != fuzz_reference::stream_parse(text)) {
    fuzz_reference::fail("proc_str_to_list differs from stream extraction");
  }
  return 0;
}
