#pragma once
// A program a test started, ended by its own handle: never by name.

#include <windows.h>

#include <string>

#include "base/win_handle.h"
#include "support/time_limit.h"

namespace qv::test {

inline BOOL CALLBACK CloseTopLevelWindowsOf(HWND window, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(pid)) PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// When the object goes, the program's windows are asked to close and, if it
// is still running after a grace period, that one process is terminated by
// its handle.
class LaunchedProgram {
 public:
  static constexpr DWORD kCloseGraceMs = 10000;

  // commandLine: the program's path, quoted as needed. started() tells.
  explicit LaunchedProgram(const std::string& commandLine) {
    std::string line = commandLine;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return;
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    id_ = info.dwProcessId;
  }
  LaunchedProgram(const LaunchedProgram&) = delete;
  LaunchedProgram& operator=(const LaunchedProgram&) = delete;
  ~LaunchedProgram() { End(); }

  bool started() const { return static_cast<bool>(process_); }
  DWORD id() const { return id_; }
  HANDLE handle() const { return process_.get(); }
  bool WaitForExit(DWORD limitMs) const {
    return process_ && WaitForSingleObject(process_.get(), TimeLimit(limitMs)) == WAIT_OBJECT_0;
  }

  // Asks its windows to close; false when it had to be terminated.
  bool End() {
    if (!process_) return true;
    EnumWindows(&CloseTopLevelWindowsOf, static_cast<LPARAM>(id_));
    const bool closed = WaitForExit(kCloseGraceMs);
    if (!closed) {
      TerminateProcess(process_.get(), 1);
      WaitForExit(kCloseGraceMs);
    }
    process_.reset();
    return closed;
  }

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

}  // namespace qv::test
