#include "ui/address_field_text.h"

#include <string>

#include "base/number_text.h"

namespace qv {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<int> ParseField(std::string_view part) {
  part = Trim(part);
  std::string_view digits = part;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  for (char c : digits)
    if (!IsDigit(c)) return std::nullopt;
  // TextToInteger saturates, so a long run of digits cannot wrap into range.
  const std::int32_t value = TextToInteger(part);
  if (value < 0 || value > 255) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::array<int, 4>> ParseAddressFields(std::string_view text) {
  // Folding first is safe for the split: a GBK trail byte is never '.'.
  const std::string folded = FoldFullWidth(text);
  std::string_view rest = Trim(folded);
  std::array<int, 4> fields{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t dot = i + 1 < fields.size() ? rest.find('.') : std::string_view::npos;
    if (i + 1 < fields.size() && dot == std::string_view::npos) return std::nullopt;
    const std::optional<int> field = ParseField(rest.substr(0, dot));
    if (!field) return std::nullopt;
    fields[i] = *field;
    if (dot != std::string_view::npos) rest.remove_prefix(dot + 1);
  }
  return fields;
}

}  // namespace qv
