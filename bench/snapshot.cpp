// SPDX-License-Identifier: MIT
#include "snapshot.h"

#include <array>
#include <random>

namespace bench {
namespace {

const std::array<const char*, 12> components = {
    "usr",  "lib", "x86_64-linux-gnu", "libexec",     "Bin", "systemd", "share", "gnome-shell",
    "Java", "jvm", "openjdk-17",       "node_modules"};

std::string random_path(std::mt19937& random, std::size_t length) {
  std::string path;
  while (path.size() < length) {
    path += '/';
    path += components[random() % components.size()];
  }
  path.resize(length);
  return path;
}

std::string mixed_case(std::mt19937& random, std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z' && random() % 3 == 0) {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

}  // namespace

proc_map_t make_snapshot(std::size_t entries) {
  std::mt19937 random(42);
  proc_map_t snapshot;
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t length = 40 + random() % 161;
    std::string command;
    const unsigned kind = random() % 200;
    if (kind < 2) {  // 1 %: a corvane program, a tenth of them installers
      command = mixed_case(random, corvane_directory) + random_path(random, length - 13);
      if (random() % 10 == 0) {
        command += random() % 2 == 0 ? "/Install.sh" : "/setupinstall.exe";
      }
    } else if (kind < 3) {  // a sibling installation: same start, not selected
      command = "/opt/corvane-old" + random_path(random, length - 16);
    } else {
      command = random_path(random, length);
    }
    snapshot.emplace_hint(snapshot.end(), static_cast<int>(i * 3 + 1), std::move(command));
  }
  return snapshot;
}

}  // namespace bench
