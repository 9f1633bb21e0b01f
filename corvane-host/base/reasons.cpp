// SPDX-License-Identifier: MIT
#include "base/reasons.h"

#include <cerrno>
#include <cstring>

namespace corvane_host {

std::string words_of(const reason& because) {
  switch (because.why) {
    case why::not_a_process_id:
      return "not a process ID";
    case why::not_seen_by_check:
      return "the check did not see it running";
    case why::not_signalled_by_plugin:
      return "the plug-in did not signal it";
    case why::now_another_process:
      return "the ID now belongs to another process";
    case why::no_installation_file:
      return "it no longer runs a file of the installation";
    case why::has_ended:
      return "it has ended";
    case why::is_ending:
      return "it is ending";
    case why::this_host_or_a_caller:
      return "it is this corvane-host or a process that called it";
    case why::file_system_stalled:
      return "a file system it leads to did not answer in time";
    case why::system_error:
      break;
  }
  return std::strerror(because.error);
}

reason reason_of_error(int error) {
  switch (error) {
    case ESRCH:
      return {why::has_ended, 0};
    case ESTALE:
      return {why::now_another_process, 0};
    default:
      return {why::system_error, error};
  }
}

int error_of_reason(const reason& because) {
  switch (because.why) {
    case why::system_error:
      return because.error;
    case why::has_ended:
    case why::is_ending:
      return ESRCH;
    default:
      return EPERM;
  }
}

const char* words_of(fate what) {
  for (const fate_words& entry : fate_table) {
    if (entry.what == what) {
      return entry.words;
    }
  }
  return "?";
}

fate fate_of(const reason& because) {
  switch (because.why) {
    case why::has_ended:
      return fate::already_gone;
    case why::system_error:
      return fate::not_permitted;
    default:
      return fate::left_alone;
  }
}

std::string restart_words(long parent, const std::string& name) {
  return "its parent " + std::to_string(parent) + " (" + name + ") may start it again";
}

const char* words_of(unproven what) {
  switch (what) {
    case unproven::relative_script_unheld:
      return "a relative script name, and no open handle to the script";
    case unproven::script_where_others_write:
      return "a script in a directory of the installation that others may write";
    case unproven::class_path_jars_not_open:
      return "a class path in the installation, but none of its jars open";
    case unproven::unknown_option:
      return "a command line with an option corvane-host does not know";
    case unproven::script_gone_unheld:
      return "a script of the installation that is gone, and no open handle to it";
    case unproven::path_too_long:
      return "a program whose path is longer than the kernel shows, and whose file the "
             "installation's index does not hold";
    case unproven::directory_gone:
      return "a file deleted from the installation together with its directory";
    case unproven::main_class_not_proven:
      return "a class path with entries of the installation, and no open jar of the "
             "installation that holds the main class";
    case unproven::search_path_unconfirmed:
      return "a search path from its environment in the installation, and no file there open "
             "or mapped";
    case unproven::loader_program_not_mapped:
      return "the dynamic loader names a program of the installation that it has not mapped";
  }
  return "?";
}

}  // namespace corvane_host
