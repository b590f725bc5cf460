#pragma once
// The range a bench driver is asked to scan, checked before the program is
// started: it must lie in the scanner's own /16, so that no probe can leave
// the bench's virtual LAN.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "scan/scan_rules.h"

namespace qv::bench {

// How many addresses first to last holds; nothing (and a word on stderr)
// unless both lie, in order, in the scanner's /16.
inline std::optional<std::uint32_t> AddressesInScannerNet(const std::string& scanner, const std::string& first,
                                                          const std::string& last) {
  const auto from = AddressValue(first), to = AddressValue(last), own = AddressValue(scanner);
  if (!from || !to || !own || *to < *from || (*from >> 16) != (*own >> 16) || (*to >> 16) != (*own >> 16)) {
    std::fprintf(stderr, "the range must lie in the scanner's /16\n");
    return std::nullopt;
  }
  return *to - *from + 1;
}

// The dispatcher waits this long between two addresses' starts.
constexpr double kDispatchPauseMs = 10;

// The least a scan of that many addresses can take: a pause for each, and
// the last one's time-out.
inline double ScanFloorMs(std::uint32_t addresses, int timeoutMs) { return addresses * kDispatchPauseMs + timeoutMs; }

}  // namespace qv::bench
