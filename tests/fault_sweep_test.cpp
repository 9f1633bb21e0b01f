// SPDX-License-Identifier: MIT
// Every host call an entry point makes is made to throw in turn: the
// exception must reach the host at once, with nothing of the plug-in's leaked
// (LeakSanitizer and valgrind watch this suite).
#include <gtest/gtest.h>

#include <functional>

#include "fake_host.h"
#include "plugin.h"

namespace {

void sweep(const std::function<void()>& setup, int (*entry_point)(session_t*)) {
  fake::host() = {};
  setup();
  entry_point(&fake::host().session);
  const long calls = fake::host().call_count;
  ASSERT_GT(calls, 5);
  for (long n = 1; n <= calls; ++n) {
    fake::host() = {};
    setup();
    fake::host().throw_at_call = n;
    EXPECT_THROW(entry_point(&fake::host().session), fake::host_failure) << "at call " << n;
    EXPECT_EQ(fake::host().call_count, n) << "a host call after the one that threw";
  }
}

TEST(fault_sweep, check_passes_on_every_host_exception) {
  sweep(
      [] {
        fake::host().session.values["CORVANE_PATH"] = "/d";
        fake::host().processes = {{1, "/d/a"}, {-1, "/d/b"}, {2, "/d/c"}, {3, "/x"}};
      },
      plugin().check_running_corvane);
}

TEST(fault_sweep, kill_passes_on_every_host_exception) {
  sweep(
      [] {
        fake::host().session.values["RUNNING_PROC_LIST"] = "10;-1;0;11;x";
        fake::host().kill_results = {0, -1, 0, -1};
      },
      plugin().kill_corvane);
}

}  // namespace
