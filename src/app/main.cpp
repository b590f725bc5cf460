// The program's entry.
#include <winsock2.h>
#include <windows.h>

#include "app/program.h"
#include "scan/socket_library.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The socket library is started once for the whole process before the
  // program's own logic; it is never cleaned up (see socket_library.h).
  qv::SocketLibraryStarted();
  const int exitCode = qv::ProgramStart(qv::RealProgramServices());
  // Under Wine the program returns once no echo is pending any more (an
  // echo cut off by the process's end can wedge Wine's network service for
  // every process); on Windows, once the window has gone. Threads still in
  // an echo or a look-up hold nothing the exit needs: end the process here,
  // without running static destructors underneath them.
  ExitProcess(static_cast<UINT>(exitCode));
}
