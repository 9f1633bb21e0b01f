// SPDX-License-Identifier: MIT
// The host services and kill() as the plug-in calls them: bound to the call
// in progress and to nothing outside it, and never letting an exception out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <new>
#include <stdexcept>

#include "boundary/plugin_call.h"
#include "boundary/plugin_loader.h"
#include "files/log_file.h"
#include "host-services.h"
#include "host_harness.h"

namespace {

using namespace corvane_host;

// One call, in an empty installation of a temporary tree: bound while it runs and only then;
// signal 0 to this process, which the system call allows, refused by the verified kill() of a
// call that was not given it; each service's work, and a send, made to throw: the plug-in is
// handed the error form of its result, nothing escapes, and the call keeps the first failure.
TEST(boundary, a_call_is_bound_while_it_runs_and_a_service_that_throws_hands_an_error) {
  const harness::temp_tree tree;
  const unique_fd proc = open_proc();
  const installation where = installation_at(tree.path());
  const log_file log(tree.path() + "/log");
  session_t session{{{"KEY", "value"}}};
  EXPECT_EQ(call_in_progress(), nullptr);
  {
    plugin_call call(call_basics{log.stream(), proc.get(), nullptr});
    call.where = where;
    call.signals.emplace(std::vector<recorded_process>{}, where, proc.get());
    const call_scope scope(call);
    EXPECT_EQ(call_in_progress(), &call);
    errno = 0;
    EXPECT_EQ(kill(getpid(), 0), -1);
    EXPECT_EQ(errno, EPERM);
    // What each service hands the plug-in, "" in its error form.
    const std::vector<std::pair<service, std::function<std::string()>>> cases = {
        {service::env_exists, [&] { return env_exists(&session, "KEY") ? "yes" : ""; }},
        {service::env_get_string, [&] { return env_get_string(&session, "KEY"); }},
        {service::env_set_string,
         [&] {
           env_set_string(&session, "NEW", "set");
           return session.values.count("NEW") != 0 ? session.values["NEW"] : "";
         }},
        {service::print_log,
         [&] {  // written out at once: this call may signal
           const std::size_t before = harness::read_file(tree.path() + "/log").size();
           print_log("line %d", 1);
           return harness::read_file(tree.path() + "/log").size() > before ? "logged" : "";
         }},
        {service::get_process_list,
         [&] {
           call.scan.reset();
           (void)get_process_list();
           return call.scan ? "scanned" : "";
         }},
        {service::path, [] { return path("/a/../b"); }},
        {service::get_dirname, [] { return get_dirname("/a/b"); }}};
    for (const bool failing : {false, true}) {
      call.fault = failing ? +[](service) { throw std::bad_alloc(); } : nullptr;
      for (const auto& [which, result] : cases) {
        session.values.erase("NEW");
        call.failure.reset();
        std::string handed;
        EXPECT_NO_THROW(handed = result()) << name_of(which);
        EXPECT_EQ(handed.empty(), failing) << name_of(which);
        ASSERT_EQ(call.failure.has_value(), failing) << name_of(which);
        if (failing) {
          EXPECT_EQ(call.failure->service, which);
          EXPECT_EQ(what_of(call.failure->error), "out of memory");
        }
      }
    }
    call.fault = [](service which) { throw std::runtime_error(name_of(which)); };
    call.failure.reset();
    (void)env_get_string(&session, "KEY");
    (void)path("/");
    EXPECT_EQ(what_of(call.failure->error), "env_get_string") << "the first failure stands";
    // A send whose work throws sent nothing; the plug-in gets -1 with an errno, and the
    // process's fate says why.
    call.signals.emplace(std::vector<recorded_process>{{{getpid(), 0, 0}, "x"}}, where, proc.get());
    const std::vector<std::pair<void (*)(service), int>> faults = {
        {[](service) { throw std::bad_alloc(); }, ENOMEM},
        {[](service) { throw std::runtime_error("no"); }, EIO}};
    for (const auto& [fault, error] : faults) {
      call.fault = fault;
      call.failure.reset();
      errno = 0;
      EXPECT_EQ(kill(getpid(), 0), -1);
      EXPECT_EQ(errno, error);
      ASSERT_TRUE(call.failure);
      EXPECT_STREQ(name_of(call.failure->service), "kill");
      const reason failed = call.signals->failure_of(getpid()).value_or(reason{why::has_ended});
      EXPECT_EQ(std::make_pair(failed.why, failed.error), std::make_pair(why::system_error, error));
    }
  }
  EXPECT_EQ(call_in_progress(), nullptr);
  // A call that signals nothing writes its log out when it ends.
  {
    plugin_call check(call_basics{log.stream(), proc.get(), nullptr});
    const call_scope scope(check);
    print_log("a check's line");
  }
  EXPECT_NE(harness::read_file(tree.path() + "/log").find("a check's line\n"), std::string::npos);
  EXPECT_EQ(kill(getpid(), 0), 0);
  // Outside calls there is no installation to list.
  EXPECT_TRUE(get_process_list().empty());
}

// The plug-in itself, every service made to fail: it goes on with the error it is handed, and
// the host fails the call, naming the first service that failed.
TEST(boundary, an_entry_point_handed_an_error_fails) {
  const unique_fd proc = open_proc();
  const log_file log("/dev/null");
  plugin_call call(call_basics{log.stream(), proc.get(), nullptr});
  call.fault = [](service) { throw std::runtime_error("disk full"); };
  session_t session;
  std::string said = "the call did not fail";
  try {
    (void)loaded_plugin(harness::plugin_file).check_running_corvane(session, call);
  } catch (const plugin_error& error) {
    said = error.what();
  }
  EXPECT_EQ(said,
            "check_running_corvane was handed an error: the host service print_log failed "
            "(disk full)");
}

}  // namespace
