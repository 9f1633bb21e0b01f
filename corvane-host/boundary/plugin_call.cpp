// SPDX-License-Identifier: MIT
#include "boundary/plugin_call.h"

#include <cstdio>
#include <new>
#include <string>

namespace corvane_host {
namespace {

// The call in progress: the one binding the C interface leaves no other
// way to make. Set by call_scope alone.
thread_local plugin_call* in_progress = nullptr;

}  // namespace

const char* name_of(service which) {
  switch (which) {
    case service::env_exists:
      return "env_exists";
    case service::env_get_string:
      return "env_get_string";
    case service::env_set_string:
      return "env_set_string";
    case service::print_log:
      return "print_log";
    case service::get_process_list:
      return "get_process_list";
    case service::path:
      return "path";
    case service::get_dirname:
      return "get_dirname";
    case service::kill:
      break;
  }
  return "kill";
}

std::string what_of(const std::exception_ptr& error) {
  if (!error) {
    return "no exception";
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::exception& thrown) {
    return thrown.what();
  } catch (...) {
    return "an exception that says nothing";
  }
}

call_scope::call_scope(plugin_call& call) noexcept : outer_(in_progress) { in_progress = &call; }

call_scope::~call_scope() {
  // What the call logged is written out before anything follows it.
  std::fflush(in_progress->basics.log);
  in_progress = outer_;
}

plugin_call* call_in_progress() noexcept { return in_progress; }

}  // namespace corvane_host
