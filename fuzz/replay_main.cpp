// SPDX-License-Identifier: MIT
// Without libFuzzer, a fuzz target runs each file of each directory named once: the
// ordinary build replays the seeds this way, under gcc, as a ctest test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream file(entry.path(), std::ios::binary);
      const std::string data((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
      std::printf("%s\n", entry.path().c_str());  // the input that aborts is the last one named
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
      ++replayed;
    }
  }
  return replayed > 0 ? 0 : 1;
}
