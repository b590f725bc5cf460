#pragma once
// Texts of IPv4 addresses and MAC addresses, as the scan shows and walks them.
// Portable: no platform headers.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// The dotted-decimal text of the address after the given one. Fields are read
// by TextToInteger (missing fields count as 0); the fourth is raised by one
// and carries into the third and second above 255. The first field has no
// upper bound, so 255.255.255.255 steps to 256.0.0.0. Not AddressValue: the
// step takes any text, as the design's walk does, and never refuses one.
std::string NextAddressText(std::string_view address);

// The text up to and including its last '.', or "" when there is none.
std::string AddressPrefix(std::string_view address);

// The part after AddressPrefix, read by TextToInteger.
std::int32_t LastOctetValue(std::string_view address);

// "5" -> "005", "40" -> "040"; three or more characters are returned as they are.
std::string PadToThreeDigits(std::string_view digits);

// The address with its last field as three zero-padded digits: 192.168.1.005.
std::string DisplayAddressText(std::string_view address);

// "A" -> "0A"; any other length is returned as it is.
std::string PadHexByte(std::string_view hex);

// Six upper-case two-digit hexadecimal fields joined by '-': 00-1A-2B-3C-4D-5E.
std::string MacText(const std::array<std::uint8_t, 6>& bytes);

}  // namespace qv
