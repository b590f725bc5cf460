#include "export/export_text.h"

#include <string_view>

namespace qv {
namespace {

// The fourth word is "延迟" although the list's column reads "耗时(毫秒)".
constexpr std::string_view kHeaderLine =
    "IP地址"
    "               "
    "主机名称"
    "               "
    "MAC地址"
    "            "
    "延迟"
    "\r\n";
// Fails when the literals were not compiled to GBK (the fuzz build's clang
// can only write UTF-8, and says so).
#if !defined(QV_UTF8_LITERALS)
static_assert(kHeaderLine.size() == 69);
#endif

constexpr std::string_view kCellSeparator = "          ";
static_assert(kCellSeparator.size() == 10);

constexpr std::string_view kLineEnd = "\r\n";

std::size_t ExportTextSize(std::span<const ExportRow> rows) {
  constexpr std::size_t kFixedPerRow = 3 * kCellSeparator.size() + kLineEnd.size();
  std::size_t size = kHeaderLine.size() + rows.size() * kFixedPerRow;
  for (const ExportRow& row : rows) {
    for (const std::string& cell : row) size += cell.size();
  }
  return size;
}

}  // namespace

std::string ExportText(std::span<const ExportRow> rows) {
  // Sized exactly up front: a list of thousands of rows costs one allocation.
  std::string text;
  text.reserve(ExportTextSize(rows));
  text.append(kHeaderLine);
  for (const ExportRow& row : rows) {
    text.append(row[0]);
    for (std::size_t column = 1; column < row.size(); ++column) {
      text.append(kCellSeparator);
      text.append(row[column]);
    }
    text.append(kLineEnd);
  }
  return text;
}

}  // namespace qv
