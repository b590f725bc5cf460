#pragma once
// The look-ups of the scan (Win32 code only): forward and reverse name
// resolution, the MAC address of a host on the local network and the
// machine's own addresses. Every failure gives an empty result and nothing
// else; all of them may be called from many threads at once. The socket
// library is started on first use, once for the process.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/neighbour_table.h"

namespace qv {

// The dotted-decimal text of the first IPv4 address that a forward look-up of
// the text (an address or a host name) gives, or "" when it gives none.
// A text that cannot be a host name is refused before any look-up, so it
// never reaches a name server: empty, longer than 255 bytes, or holding any
// byte but ASCII letters, digits, '-', '.' and '_'. The empty text is among
// them on purpose: the platform would answer it with the machine itself.
std::string ResolveAddressText(std::string_view text);

// The official name that the reverse look-up of an address text gives, or "".
std::string LookupHostName(std::string_view addressText);

// Where a MAC comes from, asked in this order, each with the address in
// network order: the machine's adapter list, which alone answers for the
// machine's own addresses on every platform; then the network: SendARP, or
// where the platform cannot send ARP requests itself (Wine), the neighbour
// table (the requests that an echo to the host has already caused).
struct MacSources {
  std::function<std::optional<MacBytes>(std::uint32_t address)> ownAdapter;
  std::function<std::optional<MacBytes>(std::uint32_t address)> network;
};
MacSources PlatformMacSources();

// The MAC text (02-51-56-05-00-0A) of the host with that address on the
// local network, or "", from the platform's sources or the given ones.
std::string LookupMacAddress(std::string_view addressText);
std::string LookupMacAddress(const MacSources& sources, std::string_view addressText);

// The machine's IPv4 addresses as dotted texts, in the order in which the
// resolver lists them for the machine's own name, at most 10; empty when the
// name does not resolve.
std::vector<std::string> LocalAddresses();

// Where Wine's host keeps the kernel's neighbour table, as Wine names it.
constexpr const char* kKernelNeighbourTablePath = "Z:\\proc\\net\\arp";

// The kernel's neighbour table read from its text form at the path; an empty
// table when the file cannot be read.
NeighbourTable ReadKernelNeighbourTable(const char* path);

}  // namespace qv
