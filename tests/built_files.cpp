// SPDX-License-Identifier: MIT
#include "host_harness.h"

namespace harness {

const char* const host_file = CORVANE_HOST_FILE;
const char* const plugin_file = CORVANE_PLUGIN_FILE;
const char* const sigterm_modes_file = SIGTERM_MODES_FILE;
const char* const stalled_fuse_file = STALLED_FUSE_FILE;
const char* const reuse_plugin_file = REUSE_PLUGIN_FILE;

}  // namespace harness
