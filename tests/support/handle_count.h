#pragma once
// The number of kernel handles this process holds, for leak checks.
// GetProcessHandleCount answers 0 under Wine, so the count comes from the
// system-wide handle table, filtered by this process's id.

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <vector>

namespace qv::test {

// The handles this process holds, from the system-wide handle table; empty
// when the table cannot be read.
inline std::vector<HANDLE> ProcessHandles() {
  struct Entry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  constexpr ULONG kSystemHandleInformation = 16;
  std::vector<std::uint8_t> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) break;
    if (status != static_cast<LONG>(0xC0000004) /* STATUS_INFO_LENGTH_MISMATCH */) return {};
    buffer.resize(buffer.size() * 2);
  }
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  const ULONG self = GetCurrentProcessId();
  std::vector<HANDLE> handles;
  for (ULONG i = 0; i < table->count; ++i)
    if (table->entries[i].ownerPid == self)
      handles.push_back(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(table->entries[i].handle)));
  return handles;
}

// -1 when the table cannot be read.
inline long ProcessHandleCount() {
  const std::vector<HANDLE> handles = ProcessHandles();
  return handles.empty() ? -1 : static_cast<long>(handles.size());
}

}  // namespace qv::test
