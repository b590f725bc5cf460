// How deep a worker's stack goes: the program's own window scans 127.0.0.1
// alone with the real probe services (the echo, the reverse name look-up
// and the MAC look-up of a live host, then its row handed to the window),
// on a worker whose stack was painted before it ran. Prints the deepest
// use against the worker's reservation. Sends nothing beyond loopback.
//
//   stack_bench [rounds]     (default 5)
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "scan/scan_engine.h"

namespace {

constexpr std::uint64_t kPaint = 0x5A17C0DE5A17C0DEull;
// Left unpainted at the stack's low end: the guard page and the pages
// Windows keeps for its stack-overflow handling.
constexpr std::size_t kLowEndMargin = 16 * 1024;
// Left unpainted below the painter's own frame.
constexpr std::size_t kFrameMargin = 512;

std::atomic<std::size_t> deepestUse{0};
std::atomic<std::size_t> workerReservation{0};
std::atomic<HWND> mainWindow{nullptr};

struct MeasuredWorker {
  LPTHREAD_START_ROUTINE routine;
  LPVOID param;
};

struct StackBounds {
  std::uint64_t* low;   // the reservation's base
  std::uint64_t* high;  // the stack's base, where it starts to grow down
};

// The reservation that holds the calling thread's stack; the stack grows
// down from its high end.
StackBounds OwnStackBounds() {
  MEMORY_BASIC_INFORMATION region{};
  const int local = 0;
  VirtualQuery(&local, &region, sizeof region);
  const void* base = region.AllocationBase;
  const char* end = static_cast<const char*>(base);
  while (VirtualQuery(end, &region, sizeof region) == sizeof region && region.AllocationBase == base)
    end += region.RegionSize;
  return {static_cast<std::uint64_t*>(const_cast<void*>(base)),
          reinterpret_cast<std::uint64_t*>(const_cast<char*>(end))};
}

// Downwards, a word at a time, so that on Windows every guard page is met in
// order and the stack grows as it would in use.
__attribute__((noinline)) void PaintBelow(std::uint64_t* from, std::uint64_t* to) {
  for (volatile std::uint64_t* word = from; word > to;) *--word = kPaint;
}

std::size_t UsedBytes(const StackBounds& bounds) {
  const std::uint64_t* lowest = bounds.low + kLowEndMargin / sizeof(std::uint64_t);
  while (lowest < bounds.high && *lowest == kPaint) ++lowest;
  return static_cast<std::size_t>(reinterpret_cast<const char*>(bounds.high) -
                                  reinterpret_cast<const char*>(lowest));
}

DWORD WINAPI MeasuringWorker(LPVOID param) {
  const std::unique_ptr<MeasuredWorker> worker(static_cast<MeasuredWorker*>(param));
  const StackBounds bounds = OwnStackBounds();
  volatile char here = 0;
  PaintBelow(reinterpret_cast<std::uint64_t*>(reinterpret_cast<std::uintptr_t>(&here) & ~std::uintptr_t{7}) -
                 kFrameMargin / sizeof(std::uint64_t),
             bounds.low + kLowEndMargin / sizeof(std::uint64_t));
  const DWORD result = worker->routine(worker->param);
  const std::size_t used = UsedBytes(bounds);
  std::size_t seen = deepestUse.load();
  while (used > seen && !deepestUse.compare_exchange_weak(seen, used)) {
  }
  workerReservation = static_cast<std::size_t>(reinterpret_cast<const char*>(bounds.high) -
                                               reinterpret_cast<const char*>(bounds.low));
  PostMessageW(mainWindow.load(), WM_CLOSE, 0, 0);
  return result;
}

// Workers (the threads started with the worker reservation) run under the
// measurement; the dispatcher as it is.
HANDLE StartMeasuredThread(LPTHREAD_START_ROUTINE routine, LPVOID param, SIZE_T stackReservation, DWORD flags,
                           DWORD* threadId) {
  if (stackReservation != qv::kWorkerStackReservation)
    return qv::StartSystemThread(routine, param, stackReservation, flags, threadId);
  auto* worker = new MeasuredWorker{routine, param};
  const HANDLE thread = qv::StartSystemThread(&MeasuringWorker, worker, stackReservation, flags, threadId);
  if (thread == nullptr) delete worker;
  return thread;
}

// One scan of 127.0.0.1 in a window of its own; whether the host was found
// live (only then did the look-ups run).
bool ScanLoopbackOnce() {
  qv::ProgramServices services = qv::RealProgramServices();
  services.localAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
  services.startThread = &StartMeasuredThread;
  qv::Program program(std::move(services));
  if (!program.Create()) return false;
  qv::MainWindow& window = program.Window();
  mainWindow = window.Handle();
  window.WriteAddress(qv::Component::IP编辑框_开始, "127.0.0.1");
  window.WriteAddress(qv::Component::IP编辑框_结束, "127.0.0.1");
  window.WriteContent(qv::Component::编辑框_延时, "1000");
  PostMessageW(window.Handle(qv::Component::按钮_开始扫描), BM_CLICK, 0, 0);
  program.Run();
  return program.State().ResultTable.size() == 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  int live = 0;
  for (int round = 0; round < rounds; ++round) live += ScanLoopbackOnce() ? 1 : 0;
  std::printf("pointer_bits=%zu\n", sizeof(void*) * 8);
  std::printf("rounds=%d\nrounds_live=%d\n", rounds, live);
  std::printf("worker_stack_asked_kb=%zu\n", static_cast<std::size_t>(qv::kWorkerStackReservation / 1024));
  std::printf("worker_stack_given_kb=%zu\n", workerReservation.load() / 1024);
  std::printf("worker_stack_deepest_use_kb=%.1f\n", static_cast<double>(deepestUse.load()) / 1024.0);
  return live == rounds ? 0 : 1;
}
