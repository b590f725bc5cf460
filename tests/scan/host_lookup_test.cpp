// The look-ups on the loopback address and on texts that must fail before
// any look-up leaves the machine. Host names of other machines and MAC
// addresses are checked on the virtual LAN (tests/lan).
#include <gtest/gtest.h>

#include "scan/host_lookup.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scan/address_text.h"
#include "scan/socket_library.h"
#include "support/import_hook.h"

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
  // Forms inet_addr reads as 127.0.0.1: no scan ever walks them.
  texts.push_back("127.1");
  texts.push_back("0x7f.0.0.1");
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

// The adapter list answers first: the machine's own addresses never wait
// for ARP, which need not answer for them; any other address, and an own
// address on an adapter without a MAC, is the network's.
TEST(LookupMacAddress, OwnAddressesTakeTheirAdaptersMacAndOthersTheNetworks) {
  const std::uint32_t own = inet_addr("10.0.0.7");
  const std::uint32_t ownWithoutMac = inet_addr("10.0.0.8");
  std::vector<std::uint32_t> askedOfAdapters;
  std::vector<std::uint32_t> askedOfNetwork;
  const MacSources sources{[&](std::uint32_t address) -> std::optional<MacBytes> {
                             askedOfAdapters.push_back(address);
                             if (address == own) return MacBytes{2, 0, 0, 0, 0, 7};
                             return std::nullopt;
                           },
                           [&](std::uint32_t address) -> std::optional<MacBytes> {
                             askedOfNetwork.push_back(address);
                             if (address == own) return MacBytes{2, 0, 0, 0, 0, 0xEE};
                             return MacBytes{2, 0, 0, 0, 0, static_cast<std::uint8_t>(address >> 24)};
                           }};
  EXPECT_EQ(LookupMacAddress(sources, "10.0.0.7"), "02-00-00-00-00-07");
  EXPECT_TRUE(askedOfNetwork.empty()) << "the network was asked for the machine's own address";
  EXPECT_EQ(LookupMacAddress(sources, "10.0.0.8"), "02-00-00-00-00-08");
  EXPECT_EQ(LookupMacAddress(sources, "10.0.0.9"), "02-00-00-00-00-09");
  EXPECT_EQ(askedOfAdapters, (std::vector<std::uint32_t>{own, ownWithoutMac, inet_addr("10.0.0.9")}));
  EXPECT_EQ(askedOfNetwork, (std::vector<std::uint32_t>{ownWithoutMac, inet_addr("10.0.0.9")}));
}

// Every address of an adapter with a MAC gives that MAC, whether or not the
// platform's ARP would answer for it.
TEST(LookupMacAddress, TheMachinesOwnAddressesGiveTheirAdaptersMac) {
  ULONG size = 0;
  const DWORD sizing = GetAdaptersInfo(nullptr, &size);
  // A machine without a network device (the emulated 32-bit one) lists none.
  if (sizing == ERROR_NO_DATA) GTEST_SKIP() << "no adapters on this machine";
  ASSERT_EQ(sizing, static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
  ASSERT_EQ(GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size), static_cast<DWORD>(NO_ERROR));
  int checked = 0;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); adapter; adapter = adapter->Next) {
    MacBytes mac{};
    if (adapter->AddressLength != mac.size()) continue;
    std::memcpy(mac.data(), adapter->Address, mac.size());
    if (mac == MacBytes{}) continue;
    for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry; entry = entry->Next) {
      const std::string address = entry->IpAddress.String;
      if (address == "0.0.0.0") continue;
      SCOPED_TRACE(address);
      EXPECT_EQ(LookupMacAddress(address), MacText(mac));
      ++checked;
    }
  }
  if (checked == 0) GTEST_SKIP() << "no adapter with both a MAC and an address";
}

TEST(LocalAddresses, AreCanonicalDottedTextsAtMostTen) {
  ASSERT_TRUE(SocketLibraryStarted());
  const std::vector<std::string> addresses = LocalAddresses();
  EXPECT_LE(addresses.size(), 10u);
  for (const std::string& address : addresses) EXPECT_EQ(ResolveAddressText(address), address);
  EXPECT_EQ(LocalAddresses(), addresses);
}

std::atomic<int> socketLibraryStarts{0};
std::atomic<int> socketLibraryCleanups{0};

int WINAPI CountedStartup(WORD version, LPWSADATA data) {
  ++socketLibraryStarts;
  return test::ExportedFunction<decltype(&WSAStartup)>("ws2_32.dll", "WSAStartup")(
      version, data);
}

std::atomic<int> ipNetTableReads{0};

DWORD WINAPI CountedGetIpNetTable(PMIB_IPNETTABLE table, PULONG size, BOOL order) {
  ++ipNetTableReads;
  return test::ExportedFunction<decltype(&GetIpNetTable)>("iphlpapi.dll", "GetIpNetTable")(table, size, order);
}

int WINAPI CountedCleanup() {
  ++socketLibraryCleanups;
  return test::ExportedFunction<decltype(&WSACleanup)>("ws2_32.dll", "WSACleanup")();
}

// Wine's socket library counts starts and clean-ups without a lock: look-ups
// on many threads at once must leave the count alone.
TEST(Lookups, ManyThreadsAtOnceNeitherStartNorCleanUpTheSocketLibraryNorReadWinesTable) {
  const std::string expected = LookupHostName("127.0.0.1");
  const test::ImportHook starts("ws2_32.dll", "WSAStartup", reinterpret_cast<void*>(&CountedStartup));
  // Nothing can clean the library up where the executable does not import
  // the clean-up at all.
  const test::ImportHook cleanups("ws2_32.dll", "WSACleanup", reinterpret_cast<void*>(&CountedCleanup));
  // Wine's GetIpNetTable can write past the end of its own buffer: under
  // Wine the MAC comes from the kernel's table. (On Windows the loopback
  // address fails SendARP before any table is read.)
  const test::ImportHook tableReads("iphlpapi.dll", "GetIpNetTable", reinterpret_cast<void*>(&CountedGetIpNetTable));
  ASSERT_TRUE(starts.active());
  ASSERT_TRUE(tableReads.active());
  std::vector<std::string> names(16);
  std::vector<std::string> resolved(16);
  std::vector<std::string> macs(16, "unset");
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < names.size(); ++i) {
    threads.emplace_back([&, i] {
      names[i] = LookupHostName("127.0.0.1");
      resolved[i] = ResolveAddressText("127.0.0.1");
      macs[i] = LookupMacAddress("127.0.0.1");
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(names[i], expected);
    EXPECT_EQ(resolved[i], "127.0.0.1");
    EXPECT_EQ(macs[i], "") << "the loopback interface has no MAC";
  }
  EXPECT_EQ(socketLibraryStarts.load(), 0);
  EXPECT_EQ(socketLibraryCleanups.load(), 0);
  EXPECT_EQ(ipNetTableReads.load(), 0);
}

// Files in the kernel's form, read as the MAC look-up reads the kernel's
// table under Wine.
class KernelNeighbourTableFile : public testing::Test {
 protected:
  void SetUp() override {
    char folder[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameA(folder, "qvn", 0, path_), 0u);
  }
  void TearDown() override { DeleteFileA(path_); }

  void Write(const std::string& text) {
    const HANDLE file = CreateFileA(path_, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(written, text.size());
    CloseHandle(file);
  }

  char path_[MAX_PATH] = {};
};

TEST_F(KernelNeighbourTableFile, IsReadWholeAcrossManyChunks) {
  std::string text = "IP address       HW type     Flags       HW address            Mask     Device\n";
  for (int i = 0; i < 60000; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "10.%d.%d.%d       0x1         0x2         02:00:00:%02x:%02x:%02x     *        eth0\n",
                  i >> 16, (i >> 8) & 255, i & 255, i >> 16, (i >> 8) & 255, i & 255);
    text += line;
  }
  Write(text);
  const NeighbourTable table = ReadKernelNeighbourTable(path_);
  EXPECT_EQ(table.size(), 60000u);
  EXPECT_EQ(table.Find(0x0A00EA5Fu).mac, (MacBytes{2, 0, 0, 0, 0xEA, 0x5F})) << "10.0.234.95, the last row";
}

TEST_F(KernelNeighbourTableFile, MissingOrEmptyGivesAnEmptyTable) {
  Write("");
  EXPECT_EQ(ReadKernelNeighbourTable(path_).size(), 0u);
  DeleteFileA(path_);
  EXPECT_EQ(ReadKernelNeighbourTable(path_).size(), 0u);
  EXPECT_EQ(ReadKernelNeighbourTable("Z:\\no\\such\\folder\\arp").size(), 0u);
}

}  // namespace
}  // namespace qv
