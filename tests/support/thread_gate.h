#pragma once
// Stands in for the creation of a scan's threads: remembers when each worker
// was asked for, can make a start cost time, and can refuse a dispatcher or
// chosen workers as a full address space would.

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "scan/scan_engine.h"
#include "support/now_ms.h"

namespace qv::test {

class ThreadGate {
 public:
  // By the 0-based number of the worker creation; set before a scan starts.
  std::function<bool(int workerCall)> refuseWorker;
  std::atomic<bool> refuseDispatcher{false};
  // How long each worker creation takes before the thread is created.
  std::atomic<int> startCostUs{0};

  ThreadStarter Starter() {
    return [this](LPTHREAD_START_ROUTINE routine, LPVOID param, SIZE_T stack, DWORD flags, DWORD* id) -> HANDLE {
      // Only workers are created suspended.
      if ((flags & CREATE_SUSPENDED) == 0) {
        if (refuseDispatcher.load()) return Refused();
        return StartSystemThread(routine, param, stack, flags, id);
      }
      const double askedAt = NowMs();
      int call = 0;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        call = static_cast<int>(workerCallTimesMs_.size());
        workerCallTimesMs_.push_back(askedAt);
      }
      const double costMs = startCostUs.load() / 1000.0;
      while (NowMs() - askedAt < costMs) {
      }
      if (refuseWorker && refuseWorker(call)) return Refused();
      return StartSystemThread(routine, param, stack, flags, id);
    };
  }

  // When each worker creation was asked for, in milliseconds of NowMs.
  std::vector<double> WorkerCallTimesMs() {
    std::lock_guard<std::mutex> hold(mutex_);
    return workerCallTimesMs_;
  }
  int WorkerCalls() {
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<int>(workerCallTimesMs_.size());
  }
  void Forget() {
    std::lock_guard<std::mutex> hold(mutex_);
    workerCallTimesMs_.clear();
  }

 private:
  static HANDLE Refused() {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }

  std::mutex mutex_;
  std::vector<double> workerCallTimesMs_;
};

}  // namespace qv::test
