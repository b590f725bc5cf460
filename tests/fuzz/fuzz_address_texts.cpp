// Any byte string as an address text: stepping, display and range checks
// never crash, and what they return keeps its shape.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scan/address_text.h"
#include "scan/scan_rules.h"

namespace {

std::size_t CountDots(const std::string& text) {
  std::size_t dots = 0;
  for (char c : text) dots += c == '.';
  return dots;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (CountDots(qv::NextAddressText(text)) != 3) std::abort();
  const std::string display = qv::DisplayAddressText(text);
  if (display.compare(0, qv::AddressPrefix(text).size(), qv::AddressPrefix(text)) != 0) std::abort();

  const std::size_t half = size / 2;
  const auto check = qv::CheckScanRange(text.substr(0, half), text.substr(half));
  if (check.range) {
    // A walkable range always meets its last address by stepping.
    std::string address = check.range->first;
    for (std::uint64_t i = 1; i < check.range->count && i < 600; ++i) address = qv::NextAddressText(address);
    if (check.range->count <= 600 && address != check.range->last) std::abort();
  }

  if (size >= 6) {
    std::array<std::uint8_t, 6> mac{};
    for (std::size_t i = 0; i < 6; ++i) mac[i] = data[i];
    if (qv::MacText(mac).size() != 17) std::abort();
  }
  return 0;
}
