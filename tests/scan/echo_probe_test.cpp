// The echo probe: what it hands to the echo service (through a recording
// stand-in) and what it makes of the answer; then the real service on the
// loopback address, its functions bound from the system's modules or from
// modules the test takes away or stands in for.
#include <gtest/gtest.h>

#include "scan/echo_probe.h"

#include <icmpapi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/echo_binders.h"
#include "support/handle_count.h"
#include "support/import_hook.h"
#include "support/time_limit.h"

namespace qv {
namespace {

// Stands in for the system's echo service: counts handles, records the
// request and writes the reply it is told to.
class RecordingEchoService final : public EchoService {
 public:
  HANDLE Open() override {
    ++opened;
    if (static_cast<std::size_t>(opened) <= openErrors.size()) {
      SetLastError(openErrors[opened - 1]);
      return INVALID_HANDLE_VALUE;
    }
    return openResult;
  }
  DWORD Send(HANDLE handle, IPAddr destination, void* request, WORD requestSize, void* reply, DWORD replySize,
             DWORD timeoutMs) override {
    ++sent;
    sentTimeouts.push_back(timeoutMs);
    if (failEverySend || static_cast<std::size_t>(sent) <= sendErrors.size()) {
      SetLastError(failEverySend ? sendErrors.front() : sendErrors[sent - 1]);
      return 0;
    }
    sentHandle = handle;
    sentDestination = destination;
    sentRequest.assign(static_cast<const char*>(request), requestSize);
    sentReplySize = replySize;
    sentTimeout = timeoutMs;
    if (replySize < sizeof(ICMP_ECHO_REPLY)) return 0;
    ICMP_ECHO_REPLY first = {};
    first.Address = destination;
    first.Status = replyStatus;
    first.RoundTripTime = replyTime;
    std::memcpy(reply, &first, sizeof first);
    SetLastError(lastErrorWithReply);
    return replyCount;
  }
  void Close(HANDLE handle) override {
    ++closed;
    closedHandle = handle;
  }

  HANDLE openResult = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x4321));
  DWORD replyCount = 1;
  ULONG replyStatus = IP_SUCCESS;
  ULONG replyTime = 7;
  DWORD lastErrorWithReply = NO_ERROR;
  // The first opens and sends fail with these last errors; with
  // failEverySend, every send fails with the first send error.
  std::vector<DWORD> openErrors;
  std::vector<DWORD> sendErrors;
  bool failEverySend = false;

  int opened = 0;
  int sent = 0;
  int closed = 0;
  HANDLE sentHandle = nullptr;
  HANDLE closedHandle = nullptr;
  IPAddr sentDestination = 0;
  std::string sentRequest;
  DWORD sentReplySize = 0;
  DWORD sentTimeout = 0;
  std::vector<DWORD> sentTimeouts;
};

// The service's ways of saying it had no room for the request.
constexpr DWORD kResourceErrors[] = {
    ERROR_NOT_ENOUGH_MEMORY, ERROR_OUTOFMEMORY,     ERROR_NO_SYSTEM_RESOURCES,
    ERROR_NOT_ENOUGH_QUOTA,  ERROR_COMMITMENT_LIMIT, IP_NO_RESOURCES,
};

IPAddr NetworkOrder(unsigned a, unsigned b, unsigned c, unsigned d) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  IPAddr value;
  std::memcpy(&value, bytes, 4);
  return value;
}

TEST(EchoProbe, SendsTheAddressTextWithItsZeroByteAndClosesTheHandle) {
  RecordingEchoService service;
  EXPECT_EQ(EchoProbe(service, "127.0.0.1", 500, true), 7);
  EXPECT_EQ(service.opened, 1);
  EXPECT_EQ(service.sent, 1);
  EXPECT_EQ(service.closed, 1);
  EXPECT_EQ(service.sentHandle, service.openResult);
  EXPECT_EQ(service.closedHandle, service.openResult);
  EXPECT_EQ(service.sentDestination, NetworkOrder(127, 0, 0, 1));
  EXPECT_EQ(service.sentRequest, std::string("127.0.0.1\0", 10));
  EXPECT_EQ(service.sentTimeout, 500u);
  EXPECT_GE(service.sentReplySize, sizeof(ICMP_ECHO_REPLY) + 250);
#if !defined(_WIN64)
  EXPECT_EQ(service.sentReplySize, 278u);
#endif
}

TEST(EchoProbe, SendsTheCanonicalFormOfWhatItResolves) {
  RecordingEchoService service;
  EXPECT_EQ(EchoProbe(service, "127.1", 500, true), 7);
  EXPECT_EQ(service.sentRequest, std::string("127.0.0.1\0", 10));
  EXPECT_EQ(service.sentDestination, NetworkOrder(127, 0, 0, 1));
}

TEST(EchoProbe, OnlyASuccessfulFirstReplyIsALiveHost) {
  RecordingEchoService instant;
  instant.replyTime = 0;
  EXPECT_EQ(EchoProbe(instant, "127.0.0.1", 500, true), 0);

  RecordingEchoService unreachable;
  unreachable.replyStatus = IP_DEST_HOST_UNREACHABLE;
  EXPECT_EQ(EchoProbe(unreachable, "127.0.0.1", 500, true), -1);
  EXPECT_EQ(unreachable.closed, 1);

  RecordingEchoService silent;
  silent.replyCount = 0;
  EXPECT_EQ(EchoProbe(silent, "127.0.0.1", 500, true), -1);
  EXPECT_EQ(silent.closed, 1);
}

TEST(EchoProbe, ServiceWithoutHandleSendsNothing) {
  RecordingEchoService service;
  service.openResult = INVALID_HANDLE_VALUE;
  EXPECT_EQ(EchoProbe(service, "127.0.0.1", 500, true), -1);
  EXPECT_EQ(service.opened, 1);
  EXPECT_EQ(service.sent, 0);
  EXPECT_EQ(service.closed, 0);
}

// Wine's echo service refuses every echo past 256 pending ones at once with
// ERROR_NOT_ENOUGH_MEMORY: that says nothing about the host.
TEST(EchoProbe, ResourceFailuresAreSentAgainWithinTheTimeOut) {
  for (const DWORD error : kResourceErrors) {
    SCOPED_TRACE(error);
    RecordingEchoService service;
    service.sendErrors = {error, error, error};
    EXPECT_EQ(EchoProbe(service, "127.0.0.1", 2000, true), 7);
    EXPECT_EQ(service.sent, 4);
    EXPECT_EQ(service.opened, 1);
    EXPECT_EQ(service.closed, 1);
    EXPECT_EQ(service.sentRequest, std::string("127.0.0.1\0", 10));
    ASSERT_EQ(service.sentTimeouts.size(), 4u);
    EXPECT_EQ(service.sentTimeouts[0], 2000u);
    for (std::size_t i = 1; i < service.sentTimeouts.size(); ++i) {
      EXPECT_LE(service.sentTimeouts[i], service.sentTimeouts[i - 1]) << "only what is left of the time-out";
      EXPECT_GE(service.sentTimeouts[i], 1000u);
    }
  }
}

TEST(EchoProbe, AHandleRefusedForResourcesIsAskedForAgain) {
  RecordingEchoService service;
  service.openErrors = {ERROR_NO_SYSTEM_RESOURCES, ERROR_NOT_ENOUGH_MEMORY};
  EXPECT_EQ(EchoProbe(service, "127.0.0.1", 2000, true), 7);
  EXPECT_EQ(service.opened, 3);
  EXPECT_EQ(service.sent, 1);
  EXPECT_EQ(service.closed, 1);

  RecordingEchoService denied;
  denied.openErrors = {ERROR_ACCESS_DENIED};
  EXPECT_EQ(EchoProbe(denied, "127.0.0.1", 2000, true), -1);
  EXPECT_EQ(denied.opened, 1);
  EXPECT_EQ(denied.sent, 0);
}

// A time-out, a reply's status or another failure is no reply, whatever
// the last error says.
TEST(EchoProbe, OtherFailuresAreNoReplyAtOnce) {
  for (const DWORD error : {DWORD{IP_REQ_TIMED_OUT}, DWORD{ERROR_INVALID_PARAMETER}, DWORD{IP_DEST_HOST_UNREACHABLE},
                            DWORD{ERROR_NETWORK_UNREACHABLE}, DWORD{NO_ERROR}}) {
    SCOPED_TRACE(error);
    RecordingEchoService service;
    service.sendErrors = {error};
    EXPECT_EQ(EchoProbe(service, "127.0.0.1", 2000, true), -1);
    EXPECT_EQ(service.sent, 1);
    EXPECT_EQ(service.closed, 1);
  }
  RecordingEchoService unreachable;
  unreachable.replyStatus = IP_DEST_HOST_UNREACHABLE;
  unreachable.lastErrorWithReply = ERROR_NOT_ENOUGH_MEMORY;
  EXPECT_EQ(EchoProbe(unreachable, "127.0.0.1", 2000, true), -1);
  EXPECT_EQ(unreachable.sent, 1);
}

TEST(EchoProbe, ResourceFailuresEndWithTheTimeOut) {
  for (const std::int32_t timeout : {1, 60, 300}) {
    SCOPED_TRACE(timeout);
    RecordingEchoService service;
    service.sendErrors = {ERROR_NOT_ENOUGH_MEMORY};
    service.failEverySend = true;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(EchoProbe(service, "127.0.0.1", timeout, true), -1);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took + 20, static_cast<ULONGLONG>(timeout)) << "gave up early";
    EXPECT_LE(took, static_cast<ULONGLONG>(timeout) + test::TimeLimit(500)) << "waited past its time-out";
    EXPECT_LE(service.sent, timeout / 2 + 2) << "a pause of at least 2 ms between sends";
    EXPECT_EQ(service.closed, 1);
  }
}

// A scan judges the echo service by whether it answered: a reply, a time-out
// and any other failure are answers; refusals for resources until the
// time-out ran out are none, even when a refusal comes after a first send.
TEST(ProbeEcho, TheServiceAnswersUnlessItRefusedEverySendForResources) {
  struct Case {
    const char* name;
    std::vector<DWORD> sendErrors;
    bool failEverySend;
    std::int32_t reply;
    bool answered;
  };
  const Case cases[] = {
      {"a reply", {}, false, 7, true},
      {"refused, then a reply", {ERROR_NOT_ENOUGH_MEMORY, IP_NO_RESOURCES}, false, 7, true},
      {"a time-out", {IP_REQ_TIMED_OUT}, true, -1, true},
      {"another failure", {ERROR_INVALID_PARAMETER}, true, -1, true},
      {"refused to the end", {IP_NO_RESOURCES}, true, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingEchoService service;
    service.sendErrors = c.sendErrors;
    service.failEverySend = c.failEverySend;
    const EchoOutcome outcome = ProbeEcho(service, "127.0.0.1", 40, true);
    EXPECT_EQ(outcome.replyMs, c.reply);
    EXPECT_EQ(outcome.serviceAnswered, c.answered);
  }
  RecordingEchoService unused;
  EXPECT_TRUE(ProbeEcho(unused, "", 40, true).serviceAnswered) << "nothing was asked of the service";
  EXPECT_EQ(unused.opened, 0);
}

// A service that opens no handle for another reason than want of resources
// can send no echo at all, whatever came before; refusals for resources to
// the end leave it a service that did not answer.
TEST(ProbeEcho, AServiceThatCannotOpenAHandleIsNoService) {
  struct Case {
    const char* name;
    std::vector<DWORD> openErrors;
    bool available;
  };
  const Case cases[] = {
      {"access denied", {ERROR_ACCESS_DENIED}, false},
      {"functions missing", {ERROR_PROC_NOT_FOUND}, false},
      {"refused, then denied", {IP_NO_RESOURCES, ERROR_ACCESS_DENIED}, false},
      {"refused, then opened", {ERROR_NOT_ENOUGH_MEMORY}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingEchoService service;
    service.openErrors = c.openErrors;
    const EchoOutcome outcome = ProbeEcho(service, "127.0.0.1", 2000, true);
    EXPECT_EQ(outcome.serviceAvailable, c.available);
    EXPECT_EQ(outcome.serviceAnswered, c.available);
    EXPECT_EQ(service.sent, c.available ? 1 : 0);
  }
  RecordingEchoService refusedToTheEnd;
  refusedToTheEnd.openErrors.assign(1000, IP_NO_RESOURCES);
  const EchoOutcome refused = ProbeEcho(refusedToTheEnd, "127.0.0.1", 40, true);
  EXPECT_TRUE(refused.serviceAvailable);
  EXPECT_FALSE(refused.serviceAnswered);
}

// 1,024 workers at once, each refused every time, with a 1 ms time-out: all
// give up at once instead of turning into a storm of sends.
TEST(EchoProbe, AThousandWorkersRefusedWithAOneMillisecondTimeOut) {
  std::vector<int> sends(1024, 0);
  std::vector<std::int32_t> results(sends.size(), -2);
  std::vector<std::thread> workers;
  const ULONGLONG start = GetTickCount64();
  for (std::size_t i = 0; i < sends.size(); ++i) {
    workers.emplace_back([&, i] {
      RecordingEchoService service;
      service.sendErrors = {ERROR_NOT_ENOUGH_MEMORY};
      service.failEverySend = true;
      results[i] = EchoProbe(service, "127.0.0.1", 1, true);
      sends[i] = service.sent;
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_LT(GetTickCount64() - start, test::TimeLimit(30000));
  for (std::size_t i = 0; i < sends.size(); ++i) {
    EXPECT_EQ(results[i], -1);
    EXPECT_LE(sends[i], 2);
  }
}

TEST(EchoProbe, TextThatDoesNotResolveOpensNoHandle) {
  const std::string cases[] = {
      "",
      " ",
      "\t",
      std::string(10000, '1'),
      std::string(10000, 'a'),
      "主机名称",                     // GBK double-byte text
      "127.0.0.1 ",
      std::string("127.0.0.1\0.5", 12),
      "\xA3\xB1\xA3\xB2\xA3\xB7.0.0.1",  // full-width digits
      "\x81",                          // a lone GBK lead byte
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 40)));
    RecordingEchoService service;
    EXPECT_EQ(EchoProbe(service, text, 500, true), -1);
    EXPECT_EQ(service.opened, 0);
  }
}

TEST(EchoProbe, TimeoutIsBroughtIntoOneMillisecondToOneMinute) {
  const struct {
    std::int32_t given;
    DWORD sent;
  } cases[] = {
      {INT32_MIN, 1}, {-1, 1}, {0, 1}, {1, 1}, {250, 250}, {60000, 60000}, {60001, 60000}, {INT32_MAX, 60000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    RecordingEchoService service;
    EchoProbe(service, "127.0.0.1", c.given, true);
    EXPECT_EQ(service.sentTimeout, c.sent);
  }
}

TEST(EchoProbe, WithoutTimeoutWaitsTenSeconds) {
  for (const std::int32_t ignored : {-5, 0, 100, 90000}) {
    RecordingEchoService service;
    EchoProbe(service, "127.0.0.1", ignored, false);
    EXPECT_EQ(service.sentTimeout, 10000u);
  }
}

TEST(EchoProbeOnLoopback, AnswersAndLeavesNoHandleOpen) {
  ASSERT_GE(EchoProbe("127.0.0.1", 2000, true), 0);
  const long before = test::ProcessHandleCount();
  for (int i = 0; i < 10; ++i) EXPECT_GE(EchoProbe("127.0.0.1", 2000, true), 0);
  EXPECT_EQ(test::ProcessHandleCount(), before);
}

std::atomic<int> moduleLoads{0};
std::atomic<int> moduleFrees{0};

HMODULE WINAPI CountedLoadLibrary(LPCSTR name) {
  ++moduleLoads;
  return test::ExportedFunction<decltype(&LoadLibraryA)>("kernel32.dll", "LoadLibraryA")(
      name);
}

BOOL WINAPI CountedFreeLibrary(HMODULE module) {
  ++moduleFrees;
  return test::ExportedFunction<decltype(&FreeLibrary)>("kernel32.dll", "FreeLibrary")(
      module);
}

// The echo functions are bound once for the process, not loaded and freed
// around every echo on every thread.
TEST(EchoProbeOnLoopback, LoadsNoModulePerEcho) {
  ASSERT_GE(EchoProbe("127.0.0.1", 2000, true), 0);
  const test::ImportHook loads("kernel32.dll", "LoadLibraryA", reinterpret_cast<void*>(&CountedLoadLibrary));
  const test::ImportHook frees("kernel32.dll", "FreeLibrary", reinterpret_cast<void*>(&CountedFreeLibrary));
  ASSERT_TRUE(loads.active());
  ASSERT_TRUE(frees.active());
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([] { EchoProbe("127.0.0.1", 2000, true); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(moduleLoads.load(), 0);
  EXPECT_EQ(moduleFrees.load(), 0);
}

TEST(EchoProbeOnLoopback, ManyThreadsAtOnce) {
  std::vector<std::int32_t> results(16, -2);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] { results[i] = EchoProbe("127.0.0.1", 5000, true); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::int32_t result : results) EXPECT_GE(result, 0);
}

// The calls that reached each module's echo functions, through stand-ins
// that count and hand on to the system's own.
struct EchoCalls {
  std::atomic<int> creates{0};
  std::atomic<int> sends{0};
  std::atomic<int> closes{0};
};
EchoCalls icmpCalls;
EchoCalls iphlpapiCalls;

template <typename Function>
Function SystemIphlpapi(const char* name) {
  static const ModuleBinder system = SystemModuleBinder();
  return reinterpret_cast<Function>(system("iphlpapi.dll", name));
}

template <EchoCalls& calls>
HANDLE WINAPI CountedCreate() {
  ++calls.creates;
  return SystemIphlpapi<decltype(&IcmpCreateFile)>("IcmpCreateFile")();
}

template <EchoCalls& calls>
DWORD WINAPI CountedSend(HANDLE handle, IPAddr destination, LPVOID request, WORD requestSize,
                         PIP_OPTION_INFORMATION options, LPVOID reply, DWORD replySize, DWORD timeoutMs) {
  ++calls.sends;
  return SystemIphlpapi<decltype(&IcmpSendEcho)>("IcmpSendEcho")(handle, destination, request, requestSize, options,
                                                                 reply, replySize, timeoutMs);
}

template <EchoCalls& calls>
BOOL WINAPI CountedClose(HANDLE handle) {
  ++calls.closes;
  return SystemIphlpapi<decltype(&IcmpCloseHandle)>("IcmpCloseHandle")(handle);
}

struct Export {
  const char* module;
  const char* function;
  void* address;
};

// The counted functions of both modules, but for those left out.
ModuleBinder CountedModulesWithout(std::vector<std::string> leftOut) {
  const Export exports[] = {
      {"iphlpapi.dll", "IcmpCreateFile", reinterpret_cast<void*>(&CountedCreate<iphlpapiCalls>)},
      {"iphlpapi.dll", "IcmpSendEcho", reinterpret_cast<void*>(&CountedSend<iphlpapiCalls>)},
      {"iphlpapi.dll", "IcmpCloseHandle", reinterpret_cast<void*>(&CountedClose<iphlpapiCalls>)},
      {"ICMP.DLL", "IcmpCreateFile", reinterpret_cast<void*>(&CountedCreate<icmpCalls>)},
      {"ICMP.DLL", "IcmpSendEcho", reinterpret_cast<void*>(&CountedSend<icmpCalls>)},
      {"ICMP.DLL", "IcmpCloseHandle", reinterpret_cast<void*>(&CountedClose<icmpCalls>)},
  };
  std::vector<Export> kept;
  for (const Export& entry : exports) {
    const std::string name = std::string(entry.module) + "!" + entry.function;
    const bool gone = std::any_of(leftOut.begin(), leftOut.end(), [&](const std::string& out) {
      return lstrcmpiA(out.c_str(), entry.module) == 0 || lstrcmpiA(out.c_str(), name.c_str()) == 0;
    });
    if (!gone) kept.push_back(entry);
  }
  return [kept](const char* moduleName, const char* functionName) -> void* {
    for (const Export& entry : kept) {
      if (lstrcmpiA(entry.module, moduleName) == 0 && lstrcmpA(entry.function, functionName) == 0) return entry.address;
    }
    return nullptr;
  };
}

class BindEchoServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    for (EchoCalls* calls : {&icmpCalls, &iphlpapiCalls}) calls->creates = calls->sends = calls->closes = 0;
  }
  static void ExpectCalls(const EchoCalls& calls, int creates, int sends, int closes) {
    EXPECT_EQ(calls.creates.load(), creates);
    EXPECT_EQ(calls.sends.load(), sends);
    EXPECT_EQ(calls.closes.load(), closes);
  }
};

TEST_F(BindEchoServiceTest, SendsAndClosesThroughIcmpDllWhereItExportsBoth) {
  const auto service = BindEchoService(CountedModulesWithout({}));
  EXPECT_GE(EchoProbe(*service, "127.0.0.1", 2000, true), 0);
  ExpectCalls(iphlpapiCalls, 1, 0, 0);
  ExpectCalls(icmpCalls, 0, 1, 1);
}

// The pair comes from one module: where ICMP.DLL lacks either function, both
// come from iphlpapi.dll, and the echo is answered all the same.
TEST_F(BindEchoServiceTest, WithoutIcmpDllsPairBothComeFromIphlpapi) {
  const char* const cases[] = {"ICMP.DLL", "ICMP.DLL!IcmpSendEcho", "ICMP.DLL!IcmpCloseHandle"};
  for (const char* leftOut : cases) {
    SCOPED_TRACE(leftOut);
    SetUp();
    const auto service = BindEchoService(CountedModulesWithout({leftOut}));
    const EchoOutcome outcome = ProbeEcho(*service, "127.0.0.1", 2000, true);
    EXPECT_GE(outcome.replyMs, 0);
    EXPECT_TRUE(outcome.serviceAvailable);
    ExpectCalls(iphlpapiCalls, 1, 1, 1);
    ExpectCalls(icmpCalls, 0, 0, 0);
  }
}

TEST_F(BindEchoServiceTest, TheSystemsModulesWithoutIcmpDllStillAnswer) {
  const test::ModuleStandIns cases[] = {{{"ICMP.DLL", ""}}, {{"ICMP.DLL", "version.dll"}}};
  for (const test::ModuleStandIns& standIns : cases) {
    SCOPED_TRACE(standIns.front().second);
    const auto service = BindEchoService(test::SystemModulesWith(standIns));
    const long before = test::ProcessHandleCount();
    for (int i = 0; i < 3; ++i) EXPECT_GE(EchoProbe(*service, "127.0.0.1", 2000, true), 0);
    EXPECT_EQ(test::ProcessHandleCount(), before) << "every handle closed";
  }
}

// Modules that are missing or load without the functions (version.dll in
// their place) and an IcmpCreateFile that fails: no echo can be sent, and
// the probe says so rather than reporting a silent host.
TEST_F(BindEchoServiceTest, WithoutAWayToSendTheProbeSaysThereIsNoService) {
  struct Case {
    const char* name;
    ModuleBinder binder;
  };
  const Case cases[] = {
      {"no modules", test::SystemModulesWith({{"ICMP.DLL", ""}, {"iphlpapi.dll", ""}})},
      {"modules without the functions",
       test::SystemModulesWith({{"ICMP.DLL", "version.dll"}, {"iphlpapi.dll", "version.dll"}})},
      {"no IcmpCreateFile", CountedModulesWithout({"iphlpapi.dll!IcmpCreateFile"})},
      {"no pair in either module", CountedModulesWithout({"ICMP.DLL", "iphlpapi.dll!IcmpCloseHandle"})},
      {"IcmpCreateFile denied", test::SystemModulesWithCreateDenied()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const auto service = BindEchoService(c.binder);
    const EchoOutcome outcome = ProbeEcho(*service, "127.0.0.1", 2000, true);
    EXPECT_EQ(outcome.replyMs, -1);
    EXPECT_FALSE(outcome.serviceAvailable);
    ExpectCalls(iphlpapiCalls, 0, 0, 0);
    ExpectCalls(icmpCalls, 0, 0, 0);
  }
}

}  // namespace
}  // namespace qv
