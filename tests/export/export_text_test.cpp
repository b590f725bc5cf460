#include "export/export_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qv {
namespace {

std::string Spaces(std::size_t count) { return std::string(count, ' '); }

// Spelled in bytes so that a build that does not compile literals to GBK
// cannot agree with itself.
const std::string kHeader = "IP\xB5\xD8\xD6\xB7" + Spaces(15) + "\xD6\xF7\xBB\xFA\xC3\xFB\xB3\xC6" + Spaces(15) +
                            "MAC\xB5\xD8\xD6\xB7" + Spaces(12) + "\xD1\xD3\xB3\xD9\r\n";

std::string RowLines(const std::string& text) { return text.substr(kHeader.size()); }

TEST(ExportText, EmptyListGivesOnlyTheHeaderLine) {
  const std::string text = ExportText({});
  EXPECT_EQ(text.size(), 69u);
  EXPECT_EQ(text, kHeader);
  EXPECT_EQ(kHeader, "IP地址" + Spaces(15) + "主机名称" + Spaces(15) + "MAC地址" + Spaces(12) + "延迟\r\n");
}

TEST(ExportText, RowCellsAreJoinedByTenSpaces) {
  const std::vector<ExportRow> rows = {{"192.168.1.005", "PC1", "M", "2"}};
  const std::string text = ExportText(rows);
  ASSERT_EQ(text.substr(0, kHeader.size()), kHeader);
  EXPECT_EQ(RowLines(text), "192.168.1.005" + Spaces(10) + "PC1" + Spaces(10) + "M" + Spaces(10) + "2\r\n");
}

TEST(ExportText, EmptyCellsLeaveTheirSeparators) {
  const std::vector<ExportRow> rows = {
      {"192.168.1.007", "", "00-1A-2B-3C-4D-5E", "1"},
      {"192.168.1.008", "host", "", "3"},
      {"", "", "", ""},
  };
  EXPECT_EQ(RowLines(ExportText(rows)),
            "192.168.1.007" + Spaces(20) + "00-1A-2B-3C-4D-5E" + Spaces(10) + "1\r\n" +  //
                "192.168.1.008" + Spaces(10) + "host" + Spaces(20) + "3\r\n" +         //
                Spaces(30) + "\r\n");
}

TEST(ExportText, CellsAreCopiedWholeAndByteForByte) {
  const std::string longCell(1000, 'h');
  // GBK host names, one with a trail byte equal to '\' (0x815C), and bytes
  // above 0x7F that a text-mode or code-page conversion would alter.
  const std::string gbkName = "局域网主机\x81\x5C";
  const std::string highBytes = "\x80\xFE\xFF\xA1\xA1";
  const std::vector<ExportRow> rows = {{"10.0.0.001", longCell, gbkName, highBytes}};
  EXPECT_EQ(RowLines(ExportText(rows)), "10.0.0.001" + Spaces(10) + longCell + Spaces(10) + gbkName +
                                            Spaces(10) + highBytes + "\r\n");
}

TEST(ExportText, FiveThousandRowsGiveTheExactByteCount) {
  std::vector<ExportRow> rows;
  std::size_t cellBytes = 0;
  for (int i = 0; i < 5000; ++i) {
    ExportRow row = {"192.168." + std::to_string(i / 256) + "." + std::to_string(i % 256), "主机" + std::to_string(i),
                     "00-1A-2B-3C-4D-5E", std::to_string(i % 1000)};
    for (const std::string& cell : row) cellBytes += cell.size();
    rows.push_back(std::move(row));
  }
  const std::string text = ExportText(rows);
  EXPECT_EQ(text.size(), 69 + cellBytes + 5000 * (30 + 2));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5001);
  EXPECT_TRUE(text.ends_with("主机4999" + Spaces(10) + "00-1A-2B-3C-4D-5E" + Spaces(10) + "999\r\n"));
}

}  // namespace
}  // namespace qv
