#pragma once
// The window's side of a scan: what the scan's threads hand to the UI
// thread, and how the results list follows the live hosts.

#include <windows.h>

#include <memory>

#include "scan/scan_engine.h"

namespace qv {

struct ProgramState;

// Holds window handles only; the program state is touched inside calls that
// run on the UI thread while the window exists, never from a scan thread.
std::shared_ptr<ScanPort> MakeWindowScanPort(ProgramState& state);

// UI thread: empties the results for a new scan.
void ResetScanResults(ProgramState& state);
// UI thread: records one live host and shows every host in address order.
void RecordLiveHost(ProgramState& state, const HostRecord& host);

}  // namespace qv
