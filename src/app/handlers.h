#pragma once
// The handlers of the main window's events. All run on the UI thread.

#include <cstdint>

#include "ui/events.h"

namespace qv {

class MainWindow;
struct ProgramState;

// The window's events bound to the handlers below, over one program state.
EventBindings MainWindowEventBindings(ProgramState& state);

void OnWindowCreated(ProgramState& state, MainWindow& window);
void OnWindowDestroyed(ProgramState& state);
void PrefillAddressRange(ProgramState& state, MainWindow& window);

void OnStartClicked(ProgramState& state, MainWindow& window);
void OnStopClicked(ProgramState& state, MainWindow& window);
void OnEchoServiceSilent(ProgramState& state, MainWindow& window);
void OnThreadCountChanged(MainWindow& window);
void OnThreadCountSpin(MainWindow& window, std::int32_t step);
std::int32_t OnActiveCountNotice(ProgramState& state, MainWindow& window, std::int32_t running);
void OnHeaderClicked(ProgramState& state, MainWindow& window, int column);
// The list as displayed, written to a file the operator names. Cancelling
// the dialog writes nothing and shows nothing.
void OnExportClicked(MainWindow& window);

}  // namespace qv
