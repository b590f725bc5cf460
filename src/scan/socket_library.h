#pragma once
// Starts the socket library for one scope (Win32 code only). The library
// counts its starts, so scopes on many threads, and the process-wide start
// made at program start, do not disturb one another.

#include <winsock2.h>

namespace qv {

class SocketLibraryScope {
 public:
  SocketLibraryScope() noexcept {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  SocketLibraryScope(const SocketLibraryScope&) = delete;
  SocketLibraryScope& operator=(const SocketLibraryScope&) = delete;
  ~SocketLibraryScope() {
    if (started_) WSACleanup();
  }

  bool started() const noexcept { return started_; }

 private:
  bool started_;
};

}  // namespace qv
