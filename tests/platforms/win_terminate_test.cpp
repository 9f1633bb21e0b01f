// SPDX-License-Identifier: MIT
// The Windows terminate_process, run (under Wine here, by scripts/check-platforms):
// it ends a child it is given, with exit code 1, and says so; it fails for an ID
// that names no process and for 0 and negative IDs; it closes the handle it opens.
// Built with the mingw-w64 cross compiler, linked with plugin/win-corvane-kill.cpp.
// Run with the argument "child" it is that child: it waits, then exits with 7.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "corvane-kill.h"

namespace {

// STATUS_INFO_LENGTH_MISMATCH: <ntstatus.h> redefines what <windows.h> defines.
constexpr auto info_length_mismatch = static_cast<NTSTATUS>(0xC0000004);

int failures = 0;

void expect(bool holds, const char* what) {
  if (!holds) {
    std::printf("FAILED: %s\n", what);
    ++failures;
  }
}

// The handles this process holds, as the system's handle table lists them
// (Wine's GetProcessHandleCount always says 0). 0 when the table cannot be read.
std::size_t handle_count() {
  std::vector<unsigned char> table(1 << 16);
  ULONG needed = 0;
  NTSTATUS status = 0;
  while ((status = NtQuerySystemInformation(SystemHandleInformation, table.data(),
                                            static_cast<ULONG>(table.size()), &needed)) ==
         info_length_mismatch) {
    table.resize(std::max<std::size_t>(table.size() * 2, needed));
  }
  if (status != 0) {
    return 0;
  }
  const auto* const info = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(table.data());
  const SYSTEM_HANDLE_ENTRY* const entries = info->Handle;
  return static_cast<std::size_t>(std::count_if(
      entries, entries + info->Count,
      [](const SYSTEM_HANDLE_ENTRY& entry) { return entry.OwnerPid == GetCurrentProcessId(); }));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "child") == 0) {
    Sleep(30000);
    return 7;
  }
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) {
    std::printf("FAILED: no path of this program\n");
    return 1;
  }
  std::string command = std::string("\"") + self + "\" child";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child)) {
    std::printf("FAILED: CreateProcess: error %lu\n", GetLastError());
    return 1;
  }
  CloseHandle(child.hThread);
  const int id = static_cast<int>(child.dwProcessId);
  expect(WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT, "the child runs");
  expect(terminate_process(id) == 0, "ending a running child returns 0");
  const bool ended = WaitForSingleObject(child.hProcess, 10000) == WAIT_OBJECT_0;
  expect(ended, "the child has ended");
  if (!ended) {
    TerminateProcess(child.hProcess, 2);
    WaitForSingleObject(child.hProcess, INFINITE);
  }
  DWORD code = 0;
  expect(GetExitCodeProcess(child.hProcess, &code) != 0 && code == 1, "the child's exit code is 1");

  // While this program holds the child's handle its ID still opens: every call
  // below opens a handle (whatever it returns), and each must be closed again.
  const HANDLE again = OpenProcess(PROCESS_TERMINATE, FALSE, child.dwProcessId);
  expect(again != nullptr && CloseHandle(again) != 0,
         "the ended child's ID opens while its handle is held");
  const std::size_t before = handle_count();
  for (int call = 0; call < 3000; ++call) {
    terminate_process(id);
    terminate_process(INT_MAX - 3);
  }
  const std::size_t after = handle_count();
  if (before == 0 || after != before) {
    std::printf("FAILED: handles open before %zu, after 6000 calls %zu\n", before, after);
    ++failures;
  }
  CloseHandle(child.hProcess);

  // The system lets go of an ended process a moment after its last handle is
  // closed (Wine: about 0.1 s); from then on its ID names no process.
  bool gone = terminate_process(id) == -1;
  for (int poll = 0; poll < 500 && !gone; ++poll, gone = terminate_process(id) == -1) {
    Sleep(10);
  }
  expect(gone, "-1 for the ID of an ended child no one holds, within 5 s");
  expect(terminate_process(INT_MAX - 3) == -1, "-1 for an ID no process has");
  expect(terminate_process(0) == -1, "-1 for 0");
  expect(terminate_process(-1) == -1, "-1 for -1");
  expect(terminate_process(INT_MIN) == -1, "-1 for INT_MIN");
  if (failures == 0) {
    std::printf(
        "the Windows terminate_process ends a child with exit code 1 and returns 0, "
        "returns -1 for IDs of no process, 0 and negative ones, leaves no handle open\n");
  }
  return failures == 0 ? 0 : 1;
}
