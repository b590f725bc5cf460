#pragma once
// Time since a start on the performance counter (Win32 code only): steady,
// not moved by clock changes, and finer than any timer tick.

#include <windows.h>

namespace qv {

class Stopwatch {
 public:
  // Not started: until Restart, it counts from the counter's origin, so
  // whatever waits for it to pass a span finds the span long over.
  Stopwatch() { QueryPerformanceFrequency(&frequency_); }

  void Restart() { QueryPerformanceCounter(&start_); }

  long long ElapsedUs() const { return Elapsed(1000000); }
  long long ElapsedMs() const { return Elapsed(1000); }

 private:
  long long Elapsed(long long unitsPerSecond) const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start_.QuadPart) * unitsPerSecond / frequency_.QuadPart;
  }

  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};
};

}  // namespace qv
