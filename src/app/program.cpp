#include "app/program.h"

#include <utility>

#include "app/handlers.h"
#include "scan/host_lookup.h"

namespace qv {

ProgramServices RealProgramServices() {
  ProgramServices services;
  services.probe = RealProbeServices();
  services.localAddresses = [] { return LocalAddresses(); };
  return services;
}

Program::Program(ProgramServices services)
    : state_(std::move(services)), window_(MainWindowEventBindings(state_)) {}

Program::~Program() { ProgramCleanup(state_); }

bool Program::Create() { return window_.Create(); }

int Program::Run() {
  const int result = RunMessageLoop(window_);
  // Windows ends a process's echoes with it; Wine's network service can be
  // left wedged for the whole prefix by echoes cut off so.
  if (state_.services.runsOnWine()) WaitForPendingEchoes(*state_.echoes);
  return result;
}

void ProgramCleanup(ProgramState& state) {
  state.RetireCurrentScan();
  state.ResultTable.clear();
  state.shownAddresses.Clear();
}

int ProgramStart(ProgramServices services) {
  Program program(std::move(services));
  if (!program.Create()) return 1;
  return program.Run();
}

}  // namespace qv
