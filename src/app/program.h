#pragma once
// The program's frame: the process-wide state, the main window bound to the
// handlers, the message loop, and the clean-up after the window is gone.

#include "app/program_state.h"
#include "ui/main_window.h"

namespace qv {

class Program {
 public:
  explicit Program(ProgramServices services);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program();

  // Builds and shows the window; its created event pre-fills the range,
  // attaches the results list and creates the scan lock.
  bool Create();
  // Runs the message loop until the window has been closed; under Wine it
  // then waits for the echoes still pending (at most their time-out, a
  // minute at most).
  int Run();

  MainWindow& Window() noexcept { return window_; }
  ProgramState& State() noexcept { return state_; }

 private:
  ProgramState state_;  // before the window: the window's handlers refer to it
  MainWindow window_;
};

// Runs the whole program; returns when its window has been closed.
int ProgramStart(ProgramServices services);

// Frees the results and the scan bookkeeping once the window is gone.
void ProgramCleanup(ProgramState& state);

}  // namespace qv
