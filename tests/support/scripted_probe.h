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
  // Every echo is refused for resources until its time-out, as by a service
  // with no room left: the echo ends without an answer.
  std::atomic<bool> refuse{false};
  // There is no echo service at all: every echo ends after the delay with
  // no way to send, as where the echo functions are missing.
  std::atomic<bool> noService{false};
  // How long each name and each MAC look-up takes.
  std::atomic<DWORD> lookupDelayMs{0};

  // The echo of this address takes this long (INFINITE: until the echoes
  // are released), whatever its time-out.
  void SlowDown(const std::string& address, DWORD delayMs) {
    std::lock_guard<std::mutex> hold(mutex_);
    slow_[address] = delayMs;
  }

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
      const bool refused = refuse.load();
      if (const DWORD slow = SlowDelayOf(address); slow != 0) {
        WaitForSingleObject(released_.get(), slow);
      } else if (holding_) {
        WaitForSingleObject(released_.get(), hold_ == Hold::kNever ? INFINITE : static_cast<DWORD>(timeout));
      } else {
        Sleep(refused ? static_cast<DWORD>(timeout) : delayMs.load());
      }
      --running_;
      if (refused) return EchoOutcome{-1, false};
      if (noService.load()) return kNoEchoService;
      std::lock_guard<std::mutex> hold(mutex_);
      const auto it = live.find(address);
      return EchoOutcome{it == live.end() ? -1 : it->second, true};
    };
    services.hostName = [this](const std::string& address) {
      ++nameLookups_;
      Sleep(lookupDelayMs.load());
      return address.back() == '3' ? std::string() : "pc-" + address;
    };
    services.macAddress = [this](const std::string& address) {
      ++macLookups_;
      Sleep(lookupDelayMs.load());
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
  int NameLookups() const { return nameLookups_.load(); }
  int MacLookups() const { return macLookups_.load(); }
  int Running() const { return running_.load(); }

 private:
  DWORD SlowDelayOf(const std::string& address) {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto it = slow_.find(address);
    return it == slow_.end() ? 0 : it->second;
  }

  std::mutex mutex_;
  std::map<std::string, DWORD> slow_;
  std::vector<std::string> probed_;
  std::vector<std::int32_t> timeouts_;
  std::vector<double> probeTimesMs_;
  std::atomic<int> running_{0};
  std::atomic<int> mostRunning_{0};
  std::atomic<int> nameLookups_{0};
  std::atomic<int> macLookups_{0};
  std::atomic<bool> holding_{false};
  std::atomic<Hold> hold_{Hold::kUntilTimeOut};
  UniqueHandle released_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

}  // namespace qv::test
