#pragma once
// The socket library, started once for the whole process (Win32 code only).
//
// Wine's ws2_32 counts starts and clean-ups without a lock, so starts and
// clean-ups on many threads at once can lose counts: the count can reach 0
// while the process still relies on it, and every look-up then fails as
// "not started" until the next start. So nothing starts or cleans up the
// library per call: the first user starts it, and it stays started until
// the process ends. It is never cleaned up: a worker may still be inside a
// look-up when the program ends.

#include <winsock2.h>

namespace qv {

// Starts the library on the first call (version 1.1); whether it is started.
inline bool SocketLibraryStarted() noexcept {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }();
  return started;
}

}  // namespace qv
