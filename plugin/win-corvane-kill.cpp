// SPDX-License-Identifier: MIT
// Windows: there is no SIGTERM, so the process is ended outright.
// Not part of the Linux build.
#include <windows.h>

#include <memory>
#include <type_traits>

#include "corvane-kill.h"

namespace {

struct handle_closer {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using unique_handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, handle_closer>;

}  // namespace

int terminate_process(int pid) {
  if (pid <= 0) {
    return -1;
  }
  const unique_handle process{OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid))};
  if (!process) {
    return -1;
  }
  return TerminateProcess(process.get(), 1) ? 0 : -1;
}
