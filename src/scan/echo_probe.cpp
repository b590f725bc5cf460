#include "scan/echo_probe.h"

#include <icmpapi.h>

#include <climits>
#include <cstring>
#include <string>

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

// The echo service of the system: IcmpCreateFile from iphlpapi.dll,
// IcmpSendEcho and IcmpCloseHandle from ICMP.DLL, bound when the probe runs.
class SystemEchoService final : public EchoService {
 public:
  SystemEchoService()
      : iphlpapi_("iphlpapi.dll"),
        icmp_("ICMP.DLL"),
        create_(iphlpapi_.Find<CreateFunction>("IcmpCreateFile")),
        send_(icmp_.Find<SendFunction>("IcmpSendEcho")),
        close_(icmp_.Find<CloseFunction>("IcmpCloseHandle")) {}

  HANDLE Open() override {
    // Without all three there is no way to close what would be opened.
    if (create_ == nullptr || send_ == nullptr || close_ == nullptr) return INVALID_HANDLE_VALUE;
    return create_();
  }
  DWORD Send(HANDLE handle, IPAddr destination, void* request, WORD requestSize, void* reply, DWORD replySize,
             DWORD timeoutMs) override {
    return send_(handle, destination, request, requestSize, nullptr, reply, replySize, timeoutMs);
  }
  void Close(HANDLE handle) override { close_(handle); }

 private:
  using CreateFunction = HANDLE(WINAPI*)();
  using SendFunction = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
  using CloseFunction = BOOL(WINAPI*)(HANDLE);

  LoadedModule iphlpapi_;
  LoadedModule icmp_;
  CreateFunction create_;
  SendFunction send_;
  CloseFunction close_;
};

// Owns one ICMP handle: closed by its service, whatever the send did.
class IcmpHandle {
 public:
  explicit IcmpHandle(EchoService& service) : service_(service), handle_(service.Open()) {}
  IcmpHandle(const IcmpHandle&) = delete;
  IcmpHandle& operator=(const IcmpHandle&) = delete;
  ~IcmpHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) service_.Close(handle_);
  }

  explicit operator bool() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const noexcept { return handle_; }

 private:
  EchoService& service_;
  HANDLE handle_;
};

DWORD EchoTimeout(std::int32_t timeoutMs, bool useTimeout) {
  if (!useTimeout) return kDefaultEchoTimeoutMs;
  if (timeoutMs < kMinEchoTimeoutMs) return kMinEchoTimeoutMs;
  if (timeoutMs > kMaxEchoTimeoutMs) return kMaxEchoTimeoutMs;
  return static_cast<DWORD>(timeoutMs);
}

}  // namespace

std::int32_t EchoProbe(std::string_view addressText, std::int32_t timeoutMs, bool useTimeout) {
  SystemEchoService service;
  return EchoProbe(service, addressText, timeoutMs, useTimeout);
}

std::int32_t EchoProbe(EchoService& service, std::string_view addressText, std::int32_t timeoutMs,
                       bool useTimeout) {
  std::string text = ResolveAddressText(addressText);
  if (text.size() < 3) return -1;
  const IcmpHandle handle(service);
  if (!handle) return -1;
  const IPAddr destination = inet_addr(text.c_str());
  alignas(ICMP_ECHO_REPLY) unsigned char reply[kReplyAreaSize] = {};
  // The request data is the text with its terminating zero byte.
  const DWORD replies = service.Send(handle.get(), destination, text.data(), static_cast<WORD>(text.size() + 1),
                                     reply, kReplyAreaSize, EchoTimeout(timeoutMs, useTimeout));
  if (replies == 0) return -1;
  ICMP_ECHO_REPLY first;
  std::memcpy(&first, reply, sizeof first);
  if (first.Status != IP_SUCCESS || first.RoundTripTime > INT32_MAX) return -1;
  return static_cast<std::int32_t>(first.RoundTripTime);
}

}  // namespace qv
