// SPDX-License-Identifier: MIT
// Without libFuzzer, a fuzz target is built with this main, which runs each
// input once: every file named, and every file in each directory named. The
// ordinary build replays the seeds this way, under gcc, as a ctest test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputs_of(const fs::path& named) {
  if (!fs::is_directory(named)) {
    return {named};
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(named)) {
    if (entry.is_regular_file()) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& input : inputs_of(argv[i])) {
      std::ifstream file(input, std::ios::binary);
      if (!file) {
        std::fprintf(stderr, "cannot read %s\n", input.c_str());
        return 1;
      }
      const std::string data((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu input(s)\n", replayed);
  return replayed > 0 ? 0 : 1;
}
