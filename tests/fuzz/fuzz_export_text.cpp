// Any bytes cut into rows of four cells: the text has exactly the header,
// the cells and the fixed separators, and every row ends with CR LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // 0xFF separates cells: the rest passes through as cell bytes.
  std::vector<qv::ExportRow> rows(1);
  std::size_t cell = 0;
  std::size_t cellBytes = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF) {
      if (++cell == 4) {
        cell = 0;
        rows.emplace_back();
      }
      continue;
    }
    rows.back()[cell].push_back(static_cast<char>(data[i]));
    ++cellBytes;
  }
  const std::string text = qv::ExportText(rows);
  static const std::size_t kHeader = qv::ExportText({}).size();  // literal bytes vary by compiler
  constexpr std::size_t kSeparators = 30, kLineEnd = 2;
  if (text.size() != kHeader + rows.size() * (kSeparators + kLineEnd) + cellBytes) std::abort();
  if (text.compare(text.size() - 2, 2, "\r\n") != 0) std::abort();
  const std::string_view last = std::string_view(text).substr(
      text.size() - kLineEnd - rows.back()[3].size(), rows.back()[3].size());
  if (last != rows.back()[3]) std::abort();
  return 0;
}
