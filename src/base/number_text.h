#pragma once
// Numbers read from and written as GBK text. Portable: no platform headers.

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Replaces every GBK double-byte character that is the full-width form of an
// ASCII character by that character (0xA3 0xA1..0xFE -> trail - 0x80,
// 0xA1A1 -> space, 0xA1AB -> '~', 0xA1EE and 0xA1EF -> '*'). Other
// double-byte characters are kept whole, and a lead byte at the very end of
// the text is kept as a single byte.
std::string FoldFullWidth(std::string_view text);

// Leading white space, an optional sign and the leading decimal digits of
// the folded text, as a signed 32-bit value; the first other character ends
// the number and a text without digits gives 0. A number beyond the 32-bit
// range saturates at INT32_MIN or INT32_MAX, as strtol does for its type, so
// an absurd field never turns into a small or negative count.
std::int32_t TextToInteger(std::string_view text);

// Plain decimal, no leading zeros.
std::string IntegerToText(std::int64_t value);

// At most 13 significant digits, so integral values print without a fraction.
std::string NumberToText(double value);

}  // namespace qv
