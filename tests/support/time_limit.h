#pragma once
// The time limits of the tests' waits, stretched where everything runs
// slower: the 32-bit tests run in an emulated machine (scripts/test-i686.sh),
// where starting a Wine process alone can take 15 s. CTest passes the
// build's factor in QV_TEST_TIME_FACTOR; without it a limit stays as written.

#include <windows.h>

#include <cstdlib>

namespace qv::test {

inline DWORD TimeLimitFactor() {
  static const DWORD factor = [] {
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA("QV_TEST_TIME_FACTOR", text, sizeof text);
    const long value = length > 0 && length < sizeof text ? std::strtol(text, nullptr, 10) : 1;
    return static_cast<DWORD>(value >= 1 && value <= 100 ? value : 1);
  }();
  return factor;
}

inline DWORD TimeLimit(DWORD limitMs) { return limitMs * TimeLimitFactor(); }

}  // namespace qv::test
