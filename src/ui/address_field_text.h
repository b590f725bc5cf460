#pragma once
// What an IPv4 address field accepts when the program writes a text into it.

#include <array>
#include <optional>
#include <string_view>

namespace qv {

// The four fields of an address text, or nothing when the control must be
// emptied. Full-width forms count as their ASCII characters (as everywhere a
// number is read), the text is trimmed and split at its first three dots, and
// each part, trimmed, must be decimal digits with an optional '+' and a value
// of 0 to 255: "1.2.3.4.5", "10.0.0", "1..2.3", "-0" and "12a" are refused.
// Not AddressValue: a field takes what a person types (blanks, '+', leading
// zeros, full-width digits), which a range's canonical text never holds.
std::optional<std::array<int, 4>> ParseAddressFields(std::string_view text);

}  // namespace qv
