#pragma once
// One ICMP echo request to one address: is the host live, and how fast did
// it answer (Win32 code only).

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "scan/echo_outcome.h"
#include "scan/loaded_module.h"

namespace qv {

// The time-out when the caller gives none.
constexpr std::int32_t kDefaultEchoTimeoutMs = 10000;
// Time-outs are brought into this range: no probe waits longer than a
// minute, and a negative value never becomes a wait of weeks as an unsigned
// number.
constexpr std::int32_t kMinEchoTimeoutMs = 1;
constexpr std::int32_t kMaxEchoTimeoutMs = 60000;

// The platform's ICMP echo service as the probe uses it. The probe reaches it
// only through this interface, so a test can stand in for it and see every
// handle opened and every request sent.
class EchoService {
 public:
  virtual ~EchoService() = default;
  // A new ICMP handle, or INVALID_HANDLE_VALUE with the reason in the
  // thread's last error.
  virtual HANDLE Open() = 0;
  // Sends one request and waits up to timeoutMs for the reply; the number of
  // replies written to the reply area, 0 when none came, with the reason in
  // the thread's last error.
  virtual DWORD Send(HANDLE handle, IPAddr destination, void* request, WORD requestSize, void* reply,
                     DWORD replySize, DWORD timeoutMs) = 0;
  virtual void Close(HANDLE handle) = 0;
};

// The platform's echo service, its functions found through the binder once,
// when the service is made: IcmpCreateFile in iphlpapi.dll; IcmpSendEcho and
// IcmpCloseHandle as a pair, from ICMP.DLL where it exports both, else from
// iphlpapi.dll. Without all three it opens no handle (ERROR_PROC_NOT_FOUND).
// Safe to use from many threads at once.
std::shared_ptr<EchoService> BindEchoService(ModuleBinder binder);

// Sends one echo request to the address (a dotted address, or a host name
// that resolves to one) with the address text and its terminating zero byte
// as data, and waits up to timeoutMs (kDefaultEchoTimeoutMs when useTimeout
// is false), brought into kMinEchoTimeoutMs..kMaxEchoTimeoutMs. The round-trip
// time in milliseconds (0 or more) when the first reply reports success; -1
// in every other case, and without opening an ICMP handle when the address
// does not resolve.
//
// A service that has no room for the request (it fails to open a handle or
// to send for want of memory, system resources or quota) has said nothing
// about the host: the probe waits a few milliseconds and sends again, until
// the time-out has run out. Only a time-out, a reply's status or another
// failure means no reply.
std::int32_t EchoProbe(std::string_view addressText, std::int32_t timeoutMs, bool useTimeout);

// The same through the given echo service.
std::int32_t EchoProbe(EchoService& service, std::string_view addressText, std::int32_t timeoutMs,
                       bool useTimeout);

// EchoProbe, telling also whether the service answered: false only when it
// refused every send for resources until the time-out ran out; and whether
// there was a service to ask: false when the service opens no ICMP handle
// for another reason than want of resources, so no echo can be sent at all.
// An address that does not resolve asks the service nothing and counts as
// answered. The overload without a service binds the system's modules, once
// for the process.
EchoOutcome ProbeEcho(EchoService& service, std::string_view addressText, std::int32_t timeoutMs, bool useTimeout);
EchoOutcome ProbeEcho(std::string_view addressText, std::int32_t timeoutMs, bool useTimeout);

}  // namespace qv
