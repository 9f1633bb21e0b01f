// SPDX-License-Identifier: MIT
// The built plug-in through its entry points, on the recording host: the
// fault sweep. The fuzz seeds, replayed by ctest, hold the plug-in's table of
// cases, each compared call by call with a plain reference; the host's tests
// send the plug-in's signals to real processes.
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

// Each host call an entry point makes is made to throw in turn: the exception
// reaches the host at once, with nothing leaked (LeakSanitizer and valgrind
// watch this suite).
TEST(plugin, every_host_exception_reaches_the_host_at_once) {
  for (const char* name : {"check_running_corvane", "kill_corvane"}) {
    for (long n = 1;; ++n) {
      fake::host() = {};
      fake::host().session.values = {{"CORVANE_PATH", "/d"}, {"RUNNING_PROC_LIST", "10;-1;0;11;x"}};
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
