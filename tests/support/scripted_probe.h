#pragma once
// A probe that sends nothing: it answers after a delay, for the addresses it
// is told are live, and remembers what it was asked.

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/win_handle.h"
#include "scan/address_text.h"
#include "scan/scan_engine.h"
#include "support/now_ms.h"

namespace qv::test {

// Answers after a delay; addresses in `live` answer with their reply time.
// Never sends anything.
class ScriptedProbe {
 public:
  std::map<std::string, std::int32_t> live;
  std::atomic<DWORD> delayMs{1};

  // From now on echoes wait until released: up to their time-out, as a
  // silent address would, or, with `never`, for ever, as the echoes of a
  // service that has stopped answering.
  enum class Hold { kUntilTimeOut, kNever };
  void HoldEchoes(Hold hold) {
    ResetEvent(released_.get());
    hold_ = hold;
    holding_ = true;
  }
  void ReleaseEchoes() {
    holding_ = false;
    SetEvent(released_.get());
  }

  ProbeServices Services() {
    ProbeServices services;
    services.echo = [this](const std::string& address, std::int32_t timeout) {
      const int now = ++running_;
      int seen = mostRunning_.load();
      while (now > seen && !mostRunning_.compare_exchange_weak(seen, now)) {
      }
      {
        std::lock_guard<std::mutex> hold(mutex_);
        probed_.push_back(address);
        timeouts_.push_back(timeout);
        probeTimesMs_.push_back(NowMs());
      }
      if (holding_) {
        WaitForSingleObject(released_.get(), hold_ == Hold::kNever ? INFINITE : static_cast<DWORD>(timeout));
      } else {
        Sleep(delayMs.load());
      }
      --running_;
      std::lock_guard<std::mutex> hold(mutex_);
      const auto it = live.find(address);
      return it == live.end() ? -1 : it->second;
    };
    services.hostName = [](const std::string& address) {
      return address.back() == '3' ? std::string() : "pc-" + address;
    };
    services.macAddress = [](const std::string& address) {
      return MacText({2, 0, 0, 0, 0, static_cast<std::uint8_t>(LastOctetValue(address))});
    };
    return services;
  }

  void SetLive(std::map<std::string, std::int32_t> hosts) {
    std::lock_guard<std::mutex> hold(mutex_);
    live = std::move(hosts);
  }
  std::vector<std::string> Probed() {
    std::lock_guard<std::mutex> hold(mutex_);
    return probed_;
  }
  std::vector<std::int32_t> Timeouts() {
    std::lock_guard<std::mutex> hold(mutex_);
    return timeouts_;
  }
  // When each probe began, in milliseconds of the performance counter.
  std::vector<double> ProbeTimesMs() {
    std::lock_guard<std::mutex> hold(mutex_);
    return probeTimesMs_;
  }
  void Forget() {
    std::lock_guard<std::mutex> hold(mutex_);
    probed_.clear();
    timeouts_.clear();
    probeTimesMs_.clear();
    mostRunning_ = 0;
  }
  int MostRunning() const { return mostRunning_.load(); }
  int Running() const { return running_.load(); }

 private:
  std::mutex mutex_;
  std::vector<std::string> probed_;
  std::vector<std::int32_t> timeouts_;
  std::vector<double> probeTimesMs_;
  std::atomic<int> running_{0};
  std::atomic<int> mostRunning_{0};
  std::atomic<bool> holding_{false};
  std::atomic<Hold> hold_{Hold::kUntilTimeOut};
  UniqueHandle released_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

}  // namespace qv::test
