// SPDX-License-Identifier: MIT
// What a check leaves in the session, decoded once into values: the
// plug-in's list of recorded IDs and the host's record of who each process
// was and what it ran. The guard, the recording and the ending take these
// values; none of them reads the session's text again.
#ifndef CORVANE_HOST_SESSION_RECORDS_H
#define CORVANE_HOST_SESSION_RECORDS_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "files/session.h"
#include "proc/process_handle.h"

namespace corvane_host {

// The plug-in's key: the recorded IDs, ";"-separated.
inline const char* const list_key = "RUNNING_PROC_LIST";
// The host's own key: "PID:START:INODE:HEXCOMMAND;..." per recorded ID.
inline const char* const identities_key = "corvane_host_IDENTITIES";

// A recorded process: who it was, and the installation's file it ran, as
// the host read it (the plug-in's names list is lower-cased).
struct recorded_process {
  process_identity who;
  std::string command;
};

// One entry of the list as written, and its number where it is a plain
// decimal (signed: "-1" is the plug-in's mark for an entry to skip).
struct list_entry {
  std::string token;
  std::optional<pid_t> number;
};

struct session_records {
  std::vector<list_entry> list;
  // The well-formed identities, in the order written.
  std::vector<recorded_process> identities;

  // The numbers of the list, in order; tokens that are not plain decimals
  // are left out (the check writes none).
  [[nodiscard]] std::vector<pid_t> ids() const;
};

session_records records_of(const session_t& session);

// The list's entries, split as the plug-in splits them: a trailing ";" ends
// the list, and an empty text holds no entry.
std::vector<list_entry> decode_list(const std::string& text);
std::string encode_identities(const std::vector<recorded_process>& recorded);
// Entries that are not well formed are left out.
std::vector<recorded_process> decode_identities(const std::string& text);

}  // namespace corvane_host

#endif
