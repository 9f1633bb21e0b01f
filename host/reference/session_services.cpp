// The session services over the in-memory session: a key never set reads as
// "". The reference host, the fuzz targets and the benchmarks share them.
#include "host-services.h"
#include "session.h"

bool env_exists(session_t* session, const char* key) { return session->values.count(key) != 0; }

std::string env_get_string(session_t* session, const char* key) {
  const auto it = session->values.find(key);
  return it == session->values.end() ? std::string() : it->second;
}

void env_set_string(session_t* session, const std::string& key, const std::string& value) {
  session->values[key] = value;
}
