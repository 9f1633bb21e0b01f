// SPDX-License-Identifier: MIT
// Every reason and outcome the host reports, as types, and their words, in
// one place: the text report, the JSON and the log say them the same way.
#ifndef CORVANE_HOST_BASE_REASONS_H
#define CORVANE_HOST_BASE_REASONS_H

#include <string>

namespace corvane_host {

// Why a recorded entry was not signalled, or its signal did not go out.
enum class why {
  not_a_process_id,         // the token is no plain positive decimal
  not_seen_by_check,        // no identity was recorded for it
  not_signalled_by_plugin,  // verified, yet the plug-in sent it nothing
  now_another_process,      // its ID names another process now
  no_installation_file,     // it no longer runs a file of the installation
  has_ended,                // it had ended before the signal
  is_ending,                // its exit has begun: it runs no program any more
  file_system_stalled,      // a file system it leads to did not answer in time
  this_host_or_a_caller,    // it is this host, or a process that called it
  system_error              // errno says why; the last reason
};

struct reason {
  corvane_host::why why = why::system_error;
  int error = 0;  // for system_error
};

// The words for a reason, in the text and the JSON.
std::string words_of(const reason& because);

// The reason for a failed pin or send, from its errno.
reason reason_of_error(int error);
// And back: the errno kill() sets for it.
int error_of_reason(const reason& because);

// What became of one recorded process, or of one that came back.
enum class fate {
  signalled,         // SIGTERM went out; the host did not wait
  ended_on_sigterm,  // it ended after SIGTERM, within the wait
  ended_on_sigkill,  // it outlived the wait and ended after SIGKILL (--force)
  still_running,     // it outlived the wait (and SIGKILL)
  started_again,     // a program of the installation running again under a new ID
  left_alone,        // not signalled, with the reason
  already_gone,      // it had ended before the signal
  not_permitted      // the signal could not be sent, with the reason
};

// The words for each fate, in the text and the JSON, and what they mean
// (--help prints them, so the manual page has them).
struct fate_words {
  fate what;
  const char* words;
  const char* meaning;
};
inline constexpr fate_words fate_table[] = {
    {fate::signalled, "sent SIGTERM", "SIGTERM went out; the host did not wait."},
    {fate::ended_on_sigterm, "ended on SIGTERM", "it ended within --wait."},
    {fate::ended_on_sigkill, "ended on SIGKILL",
     "it outlived --wait and ended on --force's SIGKILL."},
    {fate::still_running, "still running",
     "it outlived --wait (and --force; a SIGKILL that could not go out says why), or, left "
     "alone, it runs a program of the installation when the host looks after --wait."},
    {fate::started_again, "started again",
     "a program of the installation running as a process the check did not record."},
    {fate::left_alone, "left alone", "not signalled, with the reason"},
    {fate::already_gone, "already gone", "it had ended before the signal."},
    {fate::not_permitted, "not permitted",
     "the signal could not be sent, with the system's error as the reason (\"Permission "
     "denied\" where even its program cannot be read)."},
};

const char* words_of(fate what);

// The fate of an entry that was not signalled, or whose signal failed.
fate fate_of(const reason& because);

// What is said of a process signalled with no wait whose parent, not an
// init, may start it again; `name` is the parent's, made printable.
std::string restart_words(long parent, const std::string& name);

// Why a process that points into the installation could not be proven to
// run its code: it is counted, never recorded.
enum class unproven {
  relative_script_unheld,     // a relative script name, and no handle to the script
  script_where_others_write,  // the script lies in a directory others may write
  class_path_jars_not_open,   // a class path in the installation, none of its jars open
  unknown_option,             // a command line with an option not understood
  script_gone_unheld,         // its script is gone from the installation, and not held open
  path_too_long,          // its path is beyond what the kernel shows, and its file decides nothing
  directory_gone,         // it runs a file deleted from the installation with its directory
  main_class_not_proven,  // a class path with the installation's entries among others,
                          // and no open jar of the installation that holds the main class
  search_path_unconfirmed,    // a search path it was started with leads into the
                              // installation, and no file there is open or mapped
  loader_program_not_mapped,  // the dynamic loader names a program of the installation,
                              // which it has not mapped
};

const char* words_of(unproven what);

}  // namespace corvane_host

#endif
