#pragma once
// The number of threads a process has now, for the benchmarks.

#include <windows.h>

#include <tlhelp32.h>

#include <optional>
#include <vector>

#include "base/win_handle.h"

namespace qv::bench {

// The ids of the process's threads now; nothing when the system's thread
// list cannot be had.
inline std::optional<std::vector<DWORD>> ThreadIds(DWORD pid) {
  const UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return std::nullopt;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::vector<DWORD> ids;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == pid) ids.push_back(entry.th32ThreadID);
  return ids;
}

// -1 when the system's thread list cannot be had.
inline int ThreadCount(DWORD pid) {
  const std::optional<std::vector<DWORD>> ids = ThreadIds(pid);
  return ids ? static_cast<int>(ids->size()) : -1;
}

}  // namespace qv::bench
