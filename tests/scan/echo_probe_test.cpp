// The echo probe: what it hands to the echo service (through a recording
// stand-in) and what it makes of the answer; then the real service on the
// loopback address.
#include <gtest/gtest.h>

#include "scan/echo_probe.h"

#include <icmpapi.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/handle_count.h"

namespace qv {
namespace {

// Stands in for the system's echo service: counts handles, records the
// request and writes the reply it is told to.
class RecordingEchoService final : public EchoService {
 public:
  HANDLE Open() override {
    ++opened;
    return openResult;
  }
  DWORD Send(HANDLE handle, IPAddr destination, void* request, WORD requestSize, void* reply, DWORD replySize,
             DWORD timeoutMs) override {
    ++sent;
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

  int opened = 0;
  int sent = 0;
  int closed = 0;
  HANDLE sentHandle = nullptr;
  HANDLE closedHandle = nullptr;
  IPAddr sentDestination = 0;
  std::string sentRequest;
  DWORD sentReplySize = 0;
  DWORD sentTimeout = 0;
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

TEST(EchoProbeOnLoopback, ManyThreadsAtOnce) {
  std::vector<std::int32_t> results(16, -2);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] { results[i] = EchoProbe("127.0.0.1", 5000, true); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::int32_t result : results) EXPECT_GE(result, 0);
}

}  // namespace
}  // namespace qv
