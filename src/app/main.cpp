// The program's entry.
#include <winsock2.h>
#include <windows.h>

#include "app/program.h"

namespace {

// The socket library is started once for the whole process before the
// program's own logic, and cleaned up once at its end.
class ProcessSocketLibrary {
 public:
  ProcessSocketLibrary() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(1, 0), &data) == 0;
  }
  ~ProcessSocketLibrary() {
    if (started_) WSACleanup();
  }
  ProcessSocketLibrary(const ProcessSocketLibrary&) = delete;
  ProcessSocketLibrary& operator=(const ProcessSocketLibrary&) = delete;

 private:
  bool started_ = false;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int exitCode = 0;
  {
    const ProcessSocketLibrary sockets;
    exitCode = qv::ProgramStart(qv::RealProgramServices());
  }
  // Threads of a scan that was running when the window closed may still be
  // waiting for a reply; they hold nothing the exit needs. End the process
  // here, without running static destructors underneath them.
  ExitProcess(static_cast<UINT>(exitCode));
}
