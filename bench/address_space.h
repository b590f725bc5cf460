#pragma once
// The address space a process holds, for the benchmarks.

#include <windows.h>

#include <cstdint>

#include "scan/scan_engine.h"

namespace qv::bench {

// Reserved or committed address space of a process: what a 32-bit process
// runs out of first. The scan engine's room check, a reservation it gives
// back at once, is left out: a sample that caught it would count room the
// process never held.
inline std::uint64_t AddressSpaceInUse(HANDLE process) {
  std::uint64_t used = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (auto* at = static_cast<const char*>(nullptr);
       VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;) {
    const bool roomCheck = region.State == MEM_RESERVE && region.RegionSize == kWorkerRoomCheckBytes;
    if (region.State != MEM_FREE && !roomCheck) used += region.RegionSize;
    const auto* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return used;
}

}  // namespace qv::bench
