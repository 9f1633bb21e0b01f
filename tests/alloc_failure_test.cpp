// SPDX-License-Identifier: MIT
// Memory runs out at every allocation an entry point reaches, in turn: the
// std::bad_alloc must reach the host with nothing leaked. This binary replaces
// the global operator new, which the plug-in binds to as well.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>

#include "fake_host.h"
#include "plugin.h"

namespace {
long allocations_until_failure = 0;  // 0: never fail
}  // namespace

void* operator new(std::size_t size) {
  if (allocations_until_failure > 0 && --allocations_until_failure == 0) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t /*size*/) noexcept { std::free(memory); }

namespace {

// Returns how many allocations the call needed before it first succeeded.
long sweep(const std::function<void()>& setup, const std::function<void()>& call) {
  for (long n = 1; n < 100000; ++n) {
    fake::host() = {};
    setup();
    bool ran_out = false;
    allocations_until_failure = n;
    try {
      call();
    } catch (const std::bad_alloc&) {
      ran_out = true;
    }
    allocations_until_failure = 0;
    if (!ran_out) {
      return n - 1;
    }
  }
  return -1;
}

void check_setup() {
  fake::host().session.values["CORVANE_PATH"] = "/d";
  fake::host().processes = {
      {1, "/D/a-long-command-beyond-the-small-string-buffer"}, {2, "/d/c"}, {3, "/x"}};
}

TEST(allocation_failure, check_passes_bad_alloc_on_at_every_allocation) {
  const long allocations =
      sweep(check_setup, [] { plugin().check_running_corvane(&fake::host().session); });
  EXPECT_GT(allocations, 10);
  EXPECT_EQ(fake::host().session.values["RUNNING_PROC_LIST"], "1;2");
}

TEST(allocation_failure, find_process_passes_bad_alloc_on_at_every_allocation) {
  const proc_map_t snapshot = {
      {1, "/d/a-long-command-beyond-the-small-string-buffer"}, {2, "/d/install.sh"}, {3, "/d/b"}};
  proc_map_t selected;
  const long allocations = sweep([] {}, [&] { selected = find_process(snapshot, "/D"); });
  EXPECT_GT(allocations, 3);
  EXPECT_EQ(selected.size(), 2U);
}

TEST(allocation_failure, kill_passes_bad_alloc_on_at_every_allocation) {
  const long allocations = sweep(
      [] {
        fake::host().session.values["RUNNING_PROC_LIST"] = "10;11;-1;0;12;13;14;15;16;17;18";
        fake::host().kill_results = {0, -1, 0, 0, 0, 0, 0, 0};
      },
      [] { plugin().kill_corvane(&fake::host().session); });
  EXPECT_GT(allocations, 5);
}

TEST(allocation_failure, proc_str_to_list_passes_bad_alloc_on_at_every_allocation) {
  std::string list;
  for (int id = 1; id <= 100; ++id) {
    list += std::to_string(id) + ";";
  }
  std::vector<int> ids;
  const long allocations = sweep([] {}, [&] { ids = proc_str_to_list(list); });
  EXPECT_GT(allocations, 1);
  EXPECT_EQ(ids.size(), 100U);
}

}  // namespace
