// SPDX-License-Identifier: MIT
// A host that offers every service but get_dirname(): loading the plug-in
// must fail, naming the missing service. Exits 0 when it does.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "host-services.h"

struct session_t {};

bool env_exists(session_t* /*session*/, const char* /*key*/) { return false; }
std::string env_get_string(session_t* /*session*/, const char* /*key*/) { return {}; }
void env_set_string(session_t* /*session*/, const std::string& /*key*/,
                    const std::string& /*value*/) {}
void print_log(const char* /*format*/, ...) {}
proc_map_t get_process_list() { return {}; }
std::string path(std::string p) { return p; }

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PLUGIN\n", argv[0]);
    return 2;
  }
  if (dlopen(argv[1], RTLD_NOW) != nullptr) {
    std::fprintf(stderr, "the plug-in loaded without get_dirname\n");
    return 1;
  }
  const char* error = dlerror();
  std::printf("%s\n", error);
  return std::strstr(error, "get_dirname") != nullptr ? 0 : 1;
}
