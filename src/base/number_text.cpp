#include "base/number_text.h"

#include <cstdio>
#include <limits>

#include "base/gbk_bytes.h"

namespace qv {
namespace {

bool IsGbkTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// The ASCII character a full-width pair stands for, or 0 when it stands for none.
char FullWidthToAscii(unsigned char lead, unsigned char trail) {
  if (lead == 0xA3 && trail >= 0xA1) return static_cast<char>(trail - 0x80);
  if (lead == 0xA1) {
    switch (trail) {
      case 0xA1: return ' ';
      case 0xAB: return '~';
      case 0xEE:
      case 0xEF: return '*';
      default: break;
    }
  }
  return 0;
}

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string FoldFullWidth(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (!IsGbkLeadByte(lead) || i + 1 == text.size() ||
        !IsGbkTrailByte(static_cast<unsigned char>(text[i + 1]))) {
      out.push_back(text[i]);
      continue;
    }
    const auto trail = static_cast<unsigned char>(text[i + 1]);
    if (const char ascii = FullWidthToAscii(lead, trail)) {
      out.push_back(ascii);
    } else {
      out.push_back(text[i]);
      out.push_back(text[i + 1]);
    }
    ++i;
  }
  return out;
}

std::int32_t TextToInteger(std::string_view text) {
  const std::string folded = FoldFullWidth(text);
  std::size_t i = 0;
  while (i < folded.size() && IsAsciiSpace(folded[i])) ++i;
  bool negative = false;
  if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) {
    negative = folded[i] == '-';
    ++i;
  }
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (folded[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit;  // saturate; the rest cannot matter
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value);
}

std::string IntegerToText(std::int64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
  return buffer;
}

std::string NumberToText(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.13g", value);
  return buffer;
}

}  // namespace qv
