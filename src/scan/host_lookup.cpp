#include "scan/host_lookup.h"

// winsock2.h before windows.h, which would bring the old winsock.h.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "base/win_handle.h"
#include "base/wine_platform.h"
#include "scan/address_text.h"
#include "scan/neighbour_table.h"
#include "scan/scan_rules.h"
#include "scan/socket_library.h"

namespace qv {
namespace {

constexpr std::size_t kMaxHostNameLength = 255;
constexpr std::size_t kMaxLocalAddresses = 10;

bool IsHostNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

// A NUL-terminated copy for the platform, or nothing when the text cannot be
// a host name or an address.
std::optional<std::string> HostNameText(std::string_view text) {
  if (text.empty() || text.size() > kMaxHostNameLength) return std::nullopt;
  for (const char c : text) {
    if (!IsHostNameByte(c)) return std::nullopt;
  }
  return std::string(text);
}

// The dotted-decimal address of the text, in network order. Not inet_addr:
// it also reads "10.1" or hexadecimal fields as addresses, and says "not an
// address" with the value of 255.255.255.255.
std::optional<IPAddr> ParseAddress(std::string_view text) {
  const std::optional<std::uint32_t> value = AddressValue(text);
  if (!value) return std::nullopt;
  return htonl(*value);
}

std::string DottedText(const char* bytes) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i != 0) text += '.';
    text += std::to_string(static_cast<unsigned char>(bytes[i]));
  }
  return text;
}

bool HoldsIPv4Addresses(const hostent* host) {
  return host != nullptr && host->h_addrtype == AF_INET && host->h_length >= 4 && host->h_addr_list != nullptr &&
         host->h_addr_list[0] != nullptr;
}

// Runs a query that reports the buffer size it needs, with a larger buffer
// each time until it fits: the table can grow between two calls, and during a
// scan the neighbour table grows by the addresses probed meanwhile, so each
// retry asks for twice the reported size. 64-bit elements keep the structures
// in it aligned. Empty when the query fails.
template <typename Query>
std::vector<std::uint64_t> QueryTable(Query query, DWORD tooSmall) {
  std::vector<std::uint64_t> buffer(64);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG size = static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t));
    const DWORD result = query(buffer.data(), &size);
    if (result == NO_ERROR) return buffer;
    if (result != tooSmall) return {};
    buffer.resize(2 * (size / sizeof(std::uint64_t) + 1));
  }
  return {};
}

// The platform's own neighbour table (GetIpNetTable). Rows that were asked
// for but never answered are listed too, with an all-zero MAC: only a
// complete six-byte entry is an answer.
NeighbourTable ReadIpNetTable() {
  const std::vector<std::uint64_t> buffer = QueryTable(
      [](void* rows, ULONG* size) { return GetIpNetTable(static_cast<MIB_IPNETTABLE*>(rows), size, FALSE); },
      ERROR_INSUFFICIENT_BUFFER);
  NeighbourTable table;
  if (buffer.empty()) return table;
  const auto* rows = reinterpret_cast<const MIB_IPNETTABLE*>(buffer.data());
  const std::size_t room =
      (buffer.size() * sizeof(std::uint64_t) - offsetof(MIB_IPNETTABLE, table)) / sizeof(MIB_IPNETROW);
  const std::size_t count = rows->dwNumEntries < room ? rows->dwNumEntries : room;
  for (std::size_t i = 0; i < count; ++i) {
    const MIB_IPNETROW& row = rows->table[i];
    const std::uint32_t address = ntohl(row.dwAddr);
    const std::optional<MacBytes> mac = HardwareMac(row.bPhysAddr, row.dwPhysAddrLen);
    if (mac && row.dwType != MIB_IPNET_TYPE_INVALID) {
      table.AddComplete(address, *mac);
    } else {
      table.AddIncomplete(address);
    }
  }
  return table;
}

// The kernel's table as Wine's host shows it. Read whole, a chunk at a time
// (a file of the proc file system has no size); a table beyond any real
// network's size is cut there rather than read without end.
constexpr DWORD kKernelTableChunk = 64 * 1024;
constexpr std::size_t kMaxKernelTableBytes = 64 * 1024 * 1024;

}  // namespace

NeighbourTable ReadKernelNeighbourTable(const char* path) {
  const UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::string text;
  while (text.size() < kMaxKernelTableBytes) {
    const std::size_t used = text.size();
    text.resize(used + kKernelTableChunk);
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data() + used, kKernelTableChunk, &read, nullptr)) read = 0;
    text.resize(used + read);
    if (read == 0) break;
  }
  return ParseKernelNeighbourTable(text);
}

namespace {

// An incomplete row of a live host is the kernel asking for it again: its
// retries come a second apart, three at most, so a few reads over about two
// seconds see the answer if one comes.
constexpr int kNeighbourReads = 8;
constexpr DWORD kNeighbourReadPauseMs = 300;

std::optional<MacBytes> MacFromNeighbourTable(SharedNeighbourReads& reads, IPAddr address) {
  return CompleteNeighbourMac(reads, ntohl(address), kNeighbourReads, [] { Sleep(kNeighbourReadPauseMs); });
}

SharedNeighbourReads& KernelNeighbourReads() {
  static SharedNeighbourReads reads([] { return ReadKernelNeighbourTable(kKernelNeighbourTablePath); });
  return reads;
}

SharedNeighbourReads& PlatformNeighbourReads() {
  static SharedNeighbourReads reads(&ReadIpNetTable);
  return reads;
}

bool AdapterHasAddress(const IP_ADAPTER_INFO& adapter, IPAddr address) {
  for (const IP_ADDR_STRING* entry = &adapter.IpAddressList; entry != nullptr; entry = entry->Next) {
    const char* text = entry->IpAddress.String;
    if (ParseAddress(std::string_view(text, strnlen(text, sizeof entry->IpAddress.String))) == address) return true;
  }
  return false;
}

// The neighbour table has no row for the machine's own addresses, and
// SendARP need not answer for them: their MAC is their adapter's.
std::optional<MacBytes> MacOfOwnAdapter(IPAddr address) {
  // Adapters without an address list 0.0.0.0: that is no host.
  if (address == INADDR_ANY) return std::nullopt;
  const std::vector<std::uint64_t> buffer = QueryTable(
      [](void* list, ULONG* size) { return GetAdaptersInfo(static_cast<IP_ADAPTER_INFO*>(list), size); },
      ERROR_BUFFER_OVERFLOW);
  if (buffer.empty()) return std::nullopt;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    const std::optional<MacBytes> mac = HardwareMac(adapter->Address, adapter->AddressLength);
    if (mac && AdapterHasAddress(*adapter, address)) return mac;
  }
  return std::nullopt;
}

// Wine answers every ARP request with ERROR_NOT_SUPPORTED, and its
// GetIpNetTable writes a row past the end of its own buffer when a table
// holds just under 64 rows: where the platform is Wine, the MAC comes from
// the kernel's table of its host, read directly.
std::optional<MacBytes> MacFromArp(IPAddr address) {
  if (RunsOnWine()) return MacFromNeighbourTable(KernelNeighbourReads(), address);
  // Room for eight bytes as the call asks, although six are requested.
  ULONG answer[2] = {0, 0};
  ULONG length = 6;
  const DWORD result = SendARP(address, 0, answer, &length);
  if (result == NO_ERROR) {
    // The length is not consulted: bytes the answer left out read 00.
    MacBytes mac;
    std::memcpy(mac.data(), answer, mac.size());
    return mac;
  }
  // A platform that cannot send ARP requests itself still lists the answers
  // that the echo to the host caused.
  if (result != ERROR_NOT_SUPPORTED) return std::nullopt;
  return MacFromNeighbourTable(PlatformNeighbourReads(), address);
}

}  // namespace

std::string ResolveAddressText(std::string_view text) {
  const std::optional<std::string> name = HostNameText(text);
  if (!name) return {};
  if (!SocketLibraryStarted()) return {};
  const hostent* host = gethostbyname(name->c_str());
  if (!HoldsIPv4Addresses(host)) return {};
  return DottedText(host->h_addr_list[0]);
}

std::string LookupHostName(std::string_view addressText) {
  if (!SocketLibraryStarted()) return {};
  const std::optional<IPAddr> address = ParseAddress(addressText);
  if (!address) return {};
  const IPAddr value = *address;
  const hostent* host = gethostbyaddr(reinterpret_cast<const char*>(&value), 4, AF_INET);
  if (host == nullptr || host->h_name == nullptr) return {};
  return host->h_name;
}

MacSources PlatformMacSources() {
  return {&MacOfOwnAdapter, &MacFromArp};
}

std::string LookupMacAddress(const MacSources& sources, std::string_view addressText) {
  if (!SocketLibraryStarted()) return {};
  const std::optional<IPAddr> address = ParseAddress(addressText);
  if (!address) return {};
  std::optional<MacBytes> mac = sources.ownAdapter(*address);
  if (!mac) mac = sources.network(*address);
  return mac ? MacText(*mac) : std::string();
}

std::string LookupMacAddress(std::string_view addressText) {
  static const MacSources sources = PlatformMacSources();
  return LookupMacAddress(sources, addressText);
}

std::vector<std::string> LocalAddresses() {
  if (!SocketLibraryStarted()) return {};
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  const hostent* host = gethostbyname(name);
  if (!HoldsIPv4Addresses(host)) return {};
  // The answer lives in the socket library's per-thread storage, which the
  // next socket call may reuse: copy the addresses out before formatting.
  std::vector<in_addr> addresses;
  for (std::size_t i = 0; i < kMaxLocalAddresses && host->h_addr_list[i] != nullptr; ++i) {
    in_addr address;
    std::memcpy(&address, host->h_addr_list[i], 4);
    addresses.push_back(address);
  }
  std::vector<std::string> texts;
  for (const in_addr& address : addresses) {
    const char* text = inet_ntoa(address);
    if (text == nullptr) return {};
    texts.emplace_back(text);
  }
  return texts;
}

}  // namespace qv
