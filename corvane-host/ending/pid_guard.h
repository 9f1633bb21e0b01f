// SPDX-License-Identifier: MIT
// Keeps a recorded process ID from reaching another process. Between the
// check and the kill an installer may wait for minutes, and IDs are reused:
// the check records who each process was when the scan decided on it, and
// before the plug-in runs every recorded ID is pinned again and held to
// that identity.
#ifndef CORVANE_HOST_PID_GUARD_H
#define CORVANE_HOST_PID_GUARD_H

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "evidence/installation.h"
#include "files/session.h"
#include "proc/process_handle.h"

namespace corvane_host {

// The host's own session key: "PID:START:INODE:HEXCOMMAND;..." per recorded ID.
inline const char* const identities_key = "corvane_host_IDENTITIES";

// A recorded process: who it was, and the installation's file it ran, as
// the host read it (the plug-in's names list is lower-cased).
struct recorded_process {
  process_identity who;
  std::string command;
};

// The IDs the check recorded, in order; tokens that are not plain decimals
// are left out (the check writes none).
std::vector<pid_t> recorded_ids(const session_t& session);

// Notes, for each ID the plug-in recorded, who the scan saw under it and
// what it ran; an ID the scan did not hand the plug-in gets no identity.
void record_identities(session_t& session, const std::map<pid_t, process_identity>& identities,
                       const std::map<pid_t, std::string>& commands);

std::string encode_identities(const std::vector<recorded_process>& recorded);
// Entries that are not well formed are left out.
std::vector<recorded_process> decode_identities(const std::string& text);

// Why a recorded entry was not signalled, or its signal did not go out.
enum class why {
  not_a_process_id,         // the token is no plain positive decimal
  not_seen_by_check,        // no identity was recorded for it
  not_signalled_by_plugin,  // verified, yet the plug-in sent it nothing
  now_another_process,      // its ID names another process now
  no_installation_file,     // it no longer runs a file of the installation
  has_ended,                // it had ended before the signal
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

// A recorded process pinned again and proven again, on its own handle, to
// run the file of `where` that the check recorded; or why it is not.
struct proof {
  std::optional<process_handle> handle;
  reason because;
};
proof prove_again(const recorded_process& recorded, const installation& where);

struct skipped_entry {
  std::optional<pid_t> pid;  // absent where the token is no process ID
  std::string token;         // as recorded
  std::string command;
  reason because;
};

struct guard_result {
  std::vector<recorded_process> to_signal;
  std::vector<skipped_entry> skipped;
};

// Replaces, in RUNNING_PROC_LIST, every ID whose process has gone, was not
// seen by the check, is now another process, or no longer runs the file of
// `where` that the check recorded by -1, which the plug-in skips. The
// session is a hint: each process is proven again on its own handle.
guard_result guard_recorded(session_t& session, const installation& where);

}  // namespace corvane_host

#endif
