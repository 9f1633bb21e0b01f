// SPDX-License-Identifier: MIT
// The floor under any scan of the process table: read every /proc/PID/exe
// link and nothing else. Prints how many it read.
#include <dirent.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

int main() {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return 1;
  }
  std::array<char, 4096> target{};
  int read = 0;
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') {
      const std::string link = std::string(entry->d_name) + "/exe";
      read += readlinkat(dirfd(proc), link.c_str(), target.data(), target.size()) > 0 ? 1 : 0;
    }
  }
  closedir(proc);
  std::printf("%d\n", read);
  return 0;
}
