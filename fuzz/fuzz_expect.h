// SPDX-License-Identifier: MIT
#ifndef CORVANE_FUZZ_EXPECT_H
#define CORVANE_FUZZ_EXPECT_H

#include <cstdio>
#include <cstdlib>

namespace fuzz_reference {

// A property that does not hold aborts, and libFuzzer reports the input.
inline void expect(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

}  // namespace fuzz_reference

#endif
