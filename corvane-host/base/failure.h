// SPDX-License-Identifier: MIT
// How the host's internals say what went wrong, one way for each kind of
// answer:
//   - a failure that ends the command is thrown as a `failure` (or a type
//     named for the part that raised it, derived from it), whose kind says how
//     the command ends; nothing else is thrown on purpose;
//   - a fact that may be missing (a process has gone, a file cannot be read)
//     is returned as a value beside an errno, 0 where there is none
//     (file_text, pin_result, proc_result, reached_file), never thrown;
//   - why something was not done or not proven is a typed reason
//     (reasons.h), whose words are given in one place.
#ifndef CORVANE_HOST_BASE_FAILURE_H
#define CORVANE_HOST_BASE_FAILURE_H

#include <stdexcept>
#include <string>

namespace corvane_host {

enum class failure_kind {
  usage,    // the command line is wrong: exit 2
  refused,  // bad input (a path, a session, a plug-in): exit 1, nothing changed
  system    // the machine would not do what was asked: exit 1
};

struct failure : std::runtime_error {
  failure(failure_kind of, const std::string& what) : std::runtime_error(what), kind(of) {}
  failure_kind kind;
};

}  // namespace corvane_host

#endif
