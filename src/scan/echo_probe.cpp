#include "scan/echo_probe.h"

#include <icmpapi.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "base/stopwatch.h"
#include "scan/host_lookup.h"
#include "scan/loaded_module.h"

namespace qv {
namespace {

// One reply structure and 250 bytes for the echoed data and an error
// message. The structure holds a pointer, so it is larger on 64-bit builds;
// the 32-bit program keeps the classic 278-byte area.
constexpr DWORD kEchoDataRoom = 250;
constexpr DWORD kReplyAreaSize = sizeof(ICMP_ECHO_REPLY) + kEchoDataRoom;
#if !defined(_WIN64)
static_assert(sizeof(ICMP_ECHO_REPLY) == 28 && kReplyAreaSize == 278, "32-bit reply layout");
#endif

using CreateFunction = HANDLE(WINAPI*)();
using SendFunction = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
using CloseFunction = BOOL(WINAPI*)(HANDLE);

template <typename Function>
Function Bind(const ModuleBinder& binder, const char* moduleName, const char* functionName) {
  return reinterpret_cast<Function>(binder(moduleName, functionName));
}

struct SendAndClose {
  SendFunction send = nullptr;
  CloseFunction close = nullptr;
};

// Microsoft documents ICMP.DLL as no part of the Win32 API, open to removal,
// and iphlpapi.dll as exporting all three functions from Windows XP on
// (Wine's ICMP.DLL forwards them there). A handle is sent on and closed by
// functions of one module: one that exports only one of the two is not the
// echo service as shipped, and its one function is never paired with the
// other module's.
SendAndClose BindSendAndClose(const ModuleBinder& binder) {
  for (const char* moduleName : {"ICMP.DLL", "iphlpapi.dll"}) {
    const SendAndClose pair{Bind<SendFunction>(binder, moduleName, "IcmpSendEcho"),
                            Bind<CloseFunction>(binder, moduleName, "IcmpCloseHandle")};
    if (pair.send != nullptr && pair.close != nullptr) return pair;
  }
  return {};
}

class BoundEchoService final : public EchoService {
 public:
  // The binder is kept: the functions belong to the modules it holds.
  explicit BoundEchoService(ModuleBinder binder)
      : binder_(std::move(binder)),
        create_(Bind<CreateFunction>(binder_, "iphlpapi.dll", "IcmpCreateFile")),
        sendAndClose_(BindSendAndClose(binder_)) {}

  HANDLE Open() override {
    // The pair is bound whole or not at all: without it, what would be
    // opened could never be closed.
    if (create_ == nullptr || sendAndClose_.send == nullptr) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    return create_();
  }
  DWORD Send(HANDLE handle, IPAddr destination, void* request, WORD requestSize, void* reply, DWORD replySize,
             DWORD timeoutMs) override {
    return sendAndClose_.send(handle, destination, request, requestSize, nullptr, reply, replySize, timeoutMs);
  }
  void Close(HANDLE handle) override { sendAndClose_.close(handle); }

 private:
  const ModuleBinder binder_;
  const CreateFunction create_;
  const SendAndClose sendAndClose_;
};

// Bound once for the whole process: loading and freeing the modules around
// every echo, on hundreds of threads at once, only makes every echo queue
// for the loader's lock.
EchoService& SystemEchoService() {
  static const std::shared_ptr<EchoService> service = BindEchoService(SystemModuleBinder());
  return *service;
}

// Owns one ICMP handle: closed by its service, whatever the sends did. Not
// a UniqueOwner: the function that closes it is bound at run time.
class IcmpHandle {
 public:
  explicit IcmpHandle(EchoService& service) : service_(service), handle_(service.Open()) {
    openError_ = handle_ == INVALID_HANDLE_VALUE ? GetLastError() : NO_ERROR;
  }
  IcmpHandle(const IcmpHandle&) = delete;
  IcmpHandle& operator=(const IcmpHandle&) = delete;
  ~IcmpHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) service_.Close(handle_);
  }

  explicit operator bool() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const noexcept { return handle_; }
  DWORD openError() const noexcept { return openError_; }

 private:
  EchoService& service_;
  HANDLE handle_;
  DWORD openError_;
};

DWORD EchoTimeout(std::int32_t timeoutMs, bool useTimeout) {
  if (!useTimeout) return kDefaultEchoTimeoutMs;
  if (timeoutMs < kMinEchoTimeoutMs) return kMinEchoTimeoutMs;
  if (timeoutMs > kMaxEchoTimeoutMs) return kMaxEchoTimeoutMs;
  return static_cast<DWORD>(timeoutMs);
}

// The service had no room for the request: nothing was said about the host.
// (Wine fails every echo past 256 pending ones so, at once.)
bool IsResourceFailure(DWORD error) {
  switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_WORKING_SET_QUOTA:
    case ERROR_PAGEFILE_QUOTA:
    case ERROR_COMMITMENT_LIMIT:
    case ERROR_NOT_ENOUGH_QUOTA:
    case IP_NO_RESOURCES:
      return true;
    default:
      return false;
  }
}

// The pauses between sends that failed for resources: a few milliseconds at
// first, doubling up to about a tenth of a second, each drawn at random from
// the upper half of its range, so that workers refused together do not come
// back together. Never past the echo's time-out.
class ResourcePause {
 public:
  explicit ResourcePause(DWORD timeoutMs) : timeoutMs_(timeoutMs) { sinceFirstSend_.Restart(); }

  // The time-out left for the next send, 0 once it has run out.
  DWORD LeftMs() const {
    const long long elapsedMs = sinceFirstSend_.ElapsedMs();
    return elapsedMs >= static_cast<long long>(timeoutMs_) ? 0 : static_cast<DWORD>(timeoutMs_ - elapsedMs);
  }

  // Waits before the next send; false when no time-out is left for one.
  bool Wait() {
    const DWORD left = LeftMs();
    if (left == 0) return false;
    const DWORD pause = ceilingMs_ / 2 + static_cast<DWORD>(Spread()() % (ceilingMs_ / 2 + 1));
    ceilingMs_ = ceilingMs_ * 2 > kLongestPauseMs ? kLongestPauseMs : ceilingMs_ * 2;
    Sleep(pause < left ? pause : left);
    return LeftMs() != 0;
  }

 private:
  static constexpr DWORD kFirstPauseMs = 4;
  static constexpr DWORD kLongestPauseMs = 128;

  static std::minstd_rand& Spread() {
    thread_local std::minstd_rand spread(GetCurrentThreadId() ^ GetTickCount());
    return spread;
  }

  DWORD timeoutMs_;
  Stopwatch sinceFirstSend_;
  DWORD ceilingMs_ = kFirstPauseMs;
};

std::int32_t FirstReplyTime(const unsigned char* reply) {
  ICMP_ECHO_REPLY first;
  std::memcpy(&first, reply, sizeof first);
  if (first.Status != IP_SUCCESS || first.RoundTripTime > INT32_MAX) return -1;
  return static_cast<std::int32_t>(first.RoundTripTime);
}

}  // namespace

std::shared_ptr<EchoService> BindEchoService(ModuleBinder binder) {
  return std::make_shared<BoundEchoService>(std::move(binder));
}

std::int32_t EchoProbe(std::string_view addressText, std::int32_t timeoutMs, bool useTimeout) {
  return ProbeEcho(addressText, timeoutMs, useTimeout).replyMs;
}

std::int32_t EchoProbe(EchoService& service, std::string_view addressText, std::int32_t timeoutMs,
                       bool useTimeout) {
  return ProbeEcho(service, addressText, timeoutMs, useTimeout).replyMs;
}

EchoOutcome ProbeEcho(std::string_view addressText, std::int32_t timeoutMs, bool useTimeout) {
  return ProbeEcho(SystemEchoService(), addressText, timeoutMs, useTimeout);
}

EchoOutcome ProbeEcho(EchoService& service, std::string_view addressText, std::int32_t timeoutMs, bool useTimeout) {
  std::string text = ResolveAddressText(addressText);
  if (text.size() < 3) return {};
  const IPAddr destination = inet_addr(text.c_str());
  const DWORD timeout = EchoTimeout(timeoutMs, useTimeout);
  ResourcePause pause(timeout);
  std::optional<IcmpHandle> handle;
  for (bool first = true;; first = false) {
    if (!handle || !*handle) handle.emplace(service);
    const bool opened = static_cast<bool>(*handle);
    DWORD error = handle->openError();
    if (opened) {
      alignas(ICMP_ECHO_REPLY) unsigned char EchoReply[kReplyAreaSize] = {};
      // The request data is the text with its terminating zero byte. A send
      // after a refusal waits only for what is left of the time-out.
      const DWORD replies = service.Send(handle->get(), destination, text.data(), static_cast<WORD>(text.size() + 1),
                                         EchoReply, kReplyAreaSize, first ? timeout : std::max<DWORD>(pause.LeftMs(), 1));
      if (replies != 0) return {FirstReplyTime(EchoReply), true};
      error = GetLastError();
    }
    if (!IsResourceFailure(error)) return opened ? EchoOutcome{} : kNoEchoService;
    if (!pause.Wait()) return {-1, false};
  }
}

}  // namespace qv
