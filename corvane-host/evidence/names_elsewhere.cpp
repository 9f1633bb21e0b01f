// SPDX-License-Identifier: MIT
#include "evidence/names_elsewhere.h"

#include <climits>

namespace corvane_host {
namespace {

// Bounds on what one scan keeps: names no longer than a path may be, and
// no more of them than a real table runs command lines.
constexpr std::size_t most_names = 4096;

}  // namespace

names_elsewhere::key names_elsewhere::key_of(name walked) {
  return {walked.root_mount, walked.follow, std::move(walked.path)};
}

bool names_elsewhere::contains(const name& walked) const {
  const std::lock_guard<std::mutex> held(lock_);
  return names_.count(key_of(walked)) != 0;
}

void names_elsewhere::add(name walked) {
  if (walked.path.size() >= PATH_MAX) {
    return;
  }
  const std::lock_guard<std::mutex> held(lock_);
  if (names_.size() < most_names) {
    names_.insert(key_of(std::move(walked)));
  }
}

}  // namespace corvane_host
