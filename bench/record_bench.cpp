// The time the UI thread spends recording live hosts: the program's own
// window records 2,000 hosts in the order a scan of a /20 finds them, one
// every couple of milliseconds with the message loop running in between
// (so the repaint pace flushes as it does in a scan). Prints the time the
// recording calls take, per host and in all.
//
//   record_bench [hosts]     (default 2000)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/program.h"
#include "app/window_scan_port.h"
#include "scan/address_text.h"
#include "support/now_ms.h"

namespace {

constexpr DWORD kArrivalGapMs = 2;

void RunMessagesFor(DWORD milliseconds) {
  const ULONGLONG until = GetTickCount64() + milliseconds;
  do {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  } while (GetTickCount64() < until);
}

// The k-th of `count` hosts spread over 10.78.0.2 to 10.78.15.254, as the
// scale benchmark's host namespace holds them.
qv::HostRecord HostNumber(int k, int count) {
  const int offset = 2 + static_cast<int>(static_cast<long long>(k) * 4093 / count);
  const std::string address = "10.78." + std::to_string(offset / 256) + "." + std::to_string(offset % 256);
  char mac[32];
  std::snprintf(mac, sizeof mac, "02-51-56-06-%02X-%02X", offset / 256, offset % 256);
  return {qv::DisplayAddressText(address), k % 2 ? "" : "host-" + std::to_string(k), mac, std::to_string(k % 5)};
}

}  // namespace

int main(int argc, char** argv) {
  const int hosts = argc > 1 ? std::atoi(argv[1]) : 2000;
  qv::ProgramServices services;
  services.localAddresses = [] { return std::vector<std::string>{}; };
  qv::Program program(std::move(services));
  if (!program.Create()) {
    std::fprintf(stderr, "the window could not be created\n");
    return 1;
  }
  RunMessagesFor(500);

  double recording = 0;
  for (int k = 0; k < hosts; ++k) {
    // The process does nothing else meanwhile: wall time is CPU time.
    const double before = qv::test::NowMs();
    qv::RecordLiveHost(program.State(), HostNumber(k, hosts));
    recording += qv::test::NowMs() - before;
    RunMessagesFor(kArrivalGapMs);
  }
  program.Window().RepaintDeferred();
  RunMessagesFor(300);

  const int shown = program.Window().ItemCount();
  std::printf("hosts=%d\n", hosts);
  std::printf("rows_shown=%d\n", shown);
  std::printf("recording_cpu_ms=%.0f\nrecording_cpu_per_host_ms=%.3f\n", recording, recording / hosts);
  DestroyWindow(program.Window().Handle());
  return shown == hosts ? 0 : 1;
}
