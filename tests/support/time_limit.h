#pragma once
// The time limits of the tests' waits, stretched where everything runs
// slower: the 32-bit tests run in an emulated machine (scripts/test-i686.sh),
// where starting a Wine process alone can take 15 s. CTest passes the
// build's own factor in QV_TEST_TIME_FACTOR; the emulated machine measures
// how much slower than the host it runs and passes that in
// QV_MACHINE_TIME_FACTOR. The larger one holds; without either a limit
// stays as written. Every limit is a guard against a hang, never a speed
// check: a correct program does not come near it.

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace qv::test {

inline DWORD FactorFromEnvironment(const char* name) {
  char text[16] = {};
  const DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
  const long value = length > 0 && length < sizeof text ? std::strtol(text, nullptr, 10) : 1;
  return static_cast<DWORD>(value >= 1 && value <= 100 ? value : 1);
}

inline DWORD TimeLimitFactor() {
  static const DWORD factor =
      std::max(FactorFromEnvironment("QV_TEST_TIME_FACTOR"), FactorFromEnvironment("QV_MACHINE_TIME_FACTOR"));
  return factor;
}

inline DWORD TimeLimit(DWORD limitMs) { return limitMs * TimeLimitFactor(); }

}  // namespace qv::test
