#include "scan/address_text.h"

#include <cstdio>

#include "base/number_text.h"

namespace qv {

std::string NextAddressText(std::string_view address) {
  // 64-bit fields: a first field of INT32_MAX still steps without overflow.
  std::int64_t field[4] = {0, 0, 0, 0};
  std::size_t start = 0;
  for (int f = 0; f < 4 && start <= address.size(); ++f) {
    const std::size_t dot = address.find('.', start);
    const std::size_t end = dot == std::string_view::npos ? address.size() : dot;
    field[f] = TextToInteger(address.substr(start, end - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  ++field[3];
  if (field[3] > 255) {
    field[3] = 0;
    ++field[2];
    if (field[2] > 255) {
      field[2] = 0;
      ++field[1];
      if (field[1] > 255) {
        field[1] = 0;
        ++field[0];
      }
    }
  }
  return IntegerToText(field[0]) + "." + IntegerToText(field[1]) + "." + IntegerToText(field[2]) +
         "." + IntegerToText(field[3]);
}

std::string AddressPrefix(std::string_view address) {
  const std::size_t dot = address.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(address.substr(0, dot + 1));
}

std::int32_t LastOctetValue(std::string_view address) {
  return TextToInteger(address.substr(AddressPrefix(address).size()));
}

std::string PadToThreeDigits(std::string_view digits) {
  if (digits.size() >= 3) return std::string(digits);
  return std::string(3 - digits.size(), '0') + std::string(digits);
}

std::string DisplayAddressText(std::string_view address) {
  return AddressPrefix(address) + PadToThreeDigits(IntegerToText(LastOctetValue(address)));
}

std::string PadHexByte(std::string_view hex) {
  return hex.size() == 1 ? "0" + std::string(hex) : std::string(hex);
}

std::string MacText(const std::array<std::uint8_t, 6>& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(bytes[i]));
    if (i != 0) text += '-';
    text += PadHexByte(hex);
  }
  return text;
}

}  // namespace qv
