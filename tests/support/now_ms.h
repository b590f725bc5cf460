#pragma once
// Milliseconds of the performance counter, for intervals in tests and
// benchmarks (the library's <chrono> cannot be compiled with GBK literals).

#include <windows.h>

namespace qv::test {

inline double NowMs() {
  LARGE_INTEGER frequency{}, now{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace qv::test
