// SPDX-License-Identifier: MIT
// Names that led elsewhere in one scan, by the root they were walked from:
// a mount's own root, known by a mount ID that no other mount ever gets.
// A table runs many processes with one command line; walked from the same
// root a moment later, such a name leads where it led before, unless one
// who may change a directory on its way changed it, which they may do at
// any moment anyway. Only "elsewhere" is kept: what leads to the
// installation is walked, and judged, for each process.
#ifndef CORVANE_HOST_NAMES_ELSEWHERE_H
#define CORVANE_HOST_NAMES_ELSEWHERE_H

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

namespace corvane_host {

class names_elsewhere {
 public:
  struct name {
    std::uint64_t root_mount;  // whose own root it was walked from: an ID never given again
    bool follow;               // the last link followed
    std::string path;
  };
  [[nodiscard]] bool contains(const name& walked) const;
  void add(name walked);

 private:
  using key = std::tuple<std::uint64_t, bool, std::string>;
  static key key_of(name walked);

  // Jobs of a scan run one after another, but one given up on may still run.
  mutable std::mutex lock_;
  std::set<key> names_;
};

}  // namespace corvane_host

#endif
