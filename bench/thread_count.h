#pragma once
// The number of threads a process has now, for the benchmarks.

#include <windows.h>

#include <tlhelp32.h>

#include "base/win_handle.h"

namespace qv::bench {

// -1 when the system's thread list cannot be had.
inline int ThreadCount(DWORD pid) {
  const UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == pid) ++count;
  return count;
}

}  // namespace qv::bench
