// SPDX-License-Identifier: MIT
// The services an installer host supplies to the corvane-kill plug-in.
//
// The plug-in is built against these declarations and leaves them undefined;
// the dynamic linker binds them to the host's definitions when the plug-in is
// loaded with RTLD_NOW. A host that lacks any one of them cannot load it.
// Strings and maps cross by value, so host and plug-in must share one C++
// standard-library ABI.
#ifndef CORVANE_KILL_HOST_SERVICES_H
#define CORVANE_KILL_HOST_SERVICES_H

#include <map>
#include <string>

struct session_t;  // opaque, owned by the host

// Process ID to command, walked in ascending order of the signed ID.
using proc_map_t = std::map<int, std::string>;

bool env_exists(session_t* session, const char* key);
std::string env_get_string(session_t* session, const char* key);
void env_set_string(session_t* session, const std::string& key, const std::string& value);
void print_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
proc_map_t get_process_list();
std::string path(std::string p);
std::string get_dirname(const std::string& p);

#endif
