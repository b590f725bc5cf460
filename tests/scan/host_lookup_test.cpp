// The look-ups on the loopback address and on texts that must fail before
// any look-up leaves the machine. Host names of other machines and MAC
// addresses are checked on the virtual LAN (tests/lan).
#include <gtest/gtest.h>

#include "scan/host_lookup.h"

#include <winsock2.h>

#include <string>
#include <thread>
#include <vector>

#include "scan/socket_library.h"

namespace qv {
namespace {

// Texts that no look-up may answer. None of them reaches a name server: they
// are refused as they are, or are not addresses.
std::vector<std::string> BadTexts() {
  return {
      "",
      " ",
      "   \t ",
      std::string(10000, '1'),
      std::string(10000, 'x'),
      "主机名称",
      "192.168.1.一",
      "\xA3\xB1\xA3\xB2\xA3\xB7.0.0.1",
      "\x81",
      " 127.0.0.1",
      std::string("127.0.0.1\0", 10),
  };
}

TEST(ResolveAddressText, DottedTextStaysItsCanonicalSelf) {
  EXPECT_EQ(ResolveAddressText("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ResolveAddressText("127.0.0.255"), "127.0.0.255");
  EXPECT_EQ(ResolveAddressText("127.1"), "127.0.0.1");
}

TEST(ResolveAddressText, ResolvesALocalName) {
  EXPECT_EQ(ResolveAddressText("localhost"), "127.0.0.1");
}

TEST(ResolveAddressText, ReadsOnlyTheGivenBytes) {
  const std::string_view longer = "127.0.0.19";
  EXPECT_EQ(ResolveAddressText(longer.substr(0, 9)), "127.0.0.1");
}

TEST(ResolveAddressText, BadTextGivesEmpty) {
  for (const std::string& text : BadTexts()) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 40)));
    EXPECT_EQ(ResolveAddressText(text), "");
  }
}

TEST(LookupHostName, LoopbackHasAName) {
  EXPECT_NE(LookupHostName("127.0.0.1"), "");
}

TEST(LookupHostName, BadTextGivesEmpty) {
  std::vector<std::string> texts = BadTexts();
  texts.push_back("localhost");  // a name, not an address
  texts.push_back("not.an.address");
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 40)));
    EXPECT_EQ(LookupHostName(text), "");
  }
}

TEST(LookupMacAddress, BadTextGivesEmpty) {
  std::vector<std::string> texts = BadTexts();
  texts.push_back("localhost");
  texts.push_back("0.0.0.0");
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 40)));
    EXPECT_EQ(LookupMacAddress(text), "");
  }
}

TEST(LocalAddresses, AreCanonicalDottedTextsAtMostTen) {
  const SocketLibraryScope sockets;
  ASSERT_TRUE(sockets.started());
  const std::vector<std::string> addresses = LocalAddresses();
  EXPECT_LE(addresses.size(), 10u);
  for (const std::string& address : addresses) EXPECT_EQ(ResolveAddressText(address), address);
  // The look-up above started and cleaned up the library itself: the
  // caller's start must still hold.
  EXPECT_EQ(LocalAddresses(), addresses);
}

TEST(Lookups, ManyThreadsAtOnce) {
  std::vector<std::string> names(16);
  std::vector<std::string> resolved(16);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < names.size(); ++i) {
    threads.emplace_back([&, i] {
      names[i] = LookupHostName("127.0.0.1");
      resolved[i] = ResolveAddressText("127.0.0.1");
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string expected = LookupHostName("127.0.0.1");
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(names[i], expected);
    EXPECT_EQ(resolved[i], "127.0.0.1");
  }
}

}  // namespace
}  // namespace qv
