// SPDX-License-Identifier: MIT
// The built plug-in through its entry points, on the recording host: early
// stops, what stays in the session between calls, and host exceptions. The
// fuzz seeds, replayed by ctest, hold the table of selection, recording,
// parsing and termination cases; the host's tests send the plug-in's signals
// to real processes.
#include <dlfcn.h>

#include <gtest/gtest.h>
#include "fake_host.h"

namespace {

// An entry point of the built plug-in, found as an installer host finds it:
// dlopen() with RTLD_NOW, the entry point by its C name, called with the fake
// host's session. The plug-in stays loaded, as in an installer.
int call(const char* name) {
  static void* const handle = dlopen(CORVANE_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
  void* address = handle != nullptr ? dlsym(handle, name) : nullptr;
  if (address == nullptr) {
    throw std::runtime_error(std::string("cannot find ") + name + ": " + dlerror());
  }
  return reinterpret_cast<int (*)(session_t*)>(address)(&fake::host().session);
}

using calls = std::vector<std::string>;
const std::string short_item = "corvane_killer_setup_detected_running_apps_short_desc";
const std::string entered = "log corvane_killer: check_running_corvane entered";

class plugin_test : public testing::Test {
 protected:
  void SetUp() override { fake::host() = {}; }
  static std::map<std::string, std::string>& values() { return fake::host().session.values; }
};

TEST_F(plugin_test, check_appends_per_call_and_an_early_stop_keeps_earlier_records) {
  values()["CORVANE_PATH"] = "/d";
  fake::host().processes = {{1, "/d/p"}};
  call("check_running_corvane");
  call("check_running_corvane");
  const auto recorded = values();
  EXPECT_EQ(recorded.at("SHORT_DESC"), ";" + short_item + ";" + short_item);

  values()["CORVANE_PATH"] = "";
  fake::host().calls.clear();
  EXPECT_EQ(call("check_running_corvane"), 0);
  EXPECT_EQ(fake::host().calls,
            (calls{entered, "env_exists CORVANE_PATH", "env_get_string CORVANE_PATH",
                   "log corvane_killer: corvane root is empty, skipping check"}));
  values().erase("CORVANE_PATH");
  fake::host().calls.clear();
  EXPECT_EQ(call("check_running_corvane"), 0);
  EXPECT_EQ(fake::host().calls,
            (calls{entered, "env_exists CORVANE_PATH",
                   "log corvane_killer: corvane root is not defined, skipping check"}));
  values()["CORVANE_PATH"] = "/d";
  EXPECT_EQ(values(), recorded);
}

// Each host call an entry point makes is made to throw in turn: the exception
// reaches the host at once, with nothing leaked (LeakSanitizer and valgrind
// watch this suite).
TEST_F(plugin_test, every_host_exception_reaches_the_host_at_once) {
  for (const char* name : {"check_running_corvane", "kill_corvane"}) {
    for (long n = 1;; ++n) {
      fake::host() = {};
      values() = {{"CORVANE_PATH", "/d"}, {"RUNNING_PROC_LIST", "10;-1;0;11;x"}};
      fake::host().processes = {{1, "/d/a"}, {-1, "/d/b"}, {2, "/d/c"}, {3, "/x"}};
      fake::host().throw_at_call = n;
      try {
        call(name);
        EXPECT_GT(n, 5) << name;  // past its last call
        break;
      } catch (const fake::host_failure&) {
        EXPECT_EQ(fake::host().call_count, n) << name << ": a host call after the one that threw";
      }
    }
  }
}

}  // namespace
