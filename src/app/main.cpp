// The program's entry: the main window and its message loop.
#include <windows.h>

#include "app/event_bindings.h"
#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  qv::MainWindow window(qv::MainWindowEventBindings());
  if (!window.Create()) return 1;
  return qv::RunMessageLoop(window);
}
