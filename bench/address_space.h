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

// The largest block the process could still reserve, to 1 MB, up to 4 GB.
// Under 32-bit Wine, VirtualQuery shows everything outside Wine's own
// reserved areas (the host's libraries and mappings, and the gaps between
// them) as reserved, so only a reservation tells what is left. Each probe is
// given back at once.
inline std::uint64_t LargestReservableBlock(HANDLE process) {
  constexpr std::uint64_t kStep = 1024 * 1024;
  std::uint64_t fits = 0;
  std::uint64_t fails = std::uint64_t{4096} * kStep + kStep;
  while (fails - fits > kStep) {
    const std::uint64_t size = (fits + fails) / 2 / kStep * kStep;
    void* const block = size <= SIZE_MAX
                            ? VirtualAllocEx(process, nullptr, static_cast<SIZE_T>(size), MEM_RESERVE, PAGE_NOACCESS)
                            : nullptr;
    if (block) {
      VirtualFreeEx(process, block, 0, MEM_RELEASE);
      fits = size;
    } else {
      fails = size;
    }
  }
  return fits;
}

}  // namespace qv::bench
