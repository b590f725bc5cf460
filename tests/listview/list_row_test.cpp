// Sort codes and SortRows. Runs in the host build (sanitizers on) and in
// the Windows build.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "listview/list_row.h"
#include "support/partition_sort.h"

namespace qv {
namespace {

ListRow Row(std::string text, std::vector<std::string> subTexts = {}, std::int32_t id = 0) {
  ListRow row;
  row.text = std::move(text);
  row.subTexts = std::move(subTexts);
  row.indent = id;  // indent is never a sort key: it tells rows apart
  return row;
}

std::vector<std::string> Texts(const std::vector<ListRow>& rows) {
  std::vector<std::string> texts;
  for (const ListRow& row : rows) texts.push_back(row.text);
  return texts;
}

std::vector<std::int32_t> Ids(const std::vector<ListRow>& rows) {
  std::vector<std::int32_t> ids;
  for (const ListRow& row : rows) ids.push_back(row.indent);
  return ids;
}

// The partition as first written down: recursive, one comparison per step,
// rows copied. SortRows must give exactly its order.
int CompareKeys(const ListRow& a, const ListRow& b, const SortOrder& order) {
  switch (order.key) {
    case SortKey::kText:
    case SortKey::kSubText: {
      const int c = TextKey(a, order).compare(TextKey(b, order));
      return (c > 0) - (c < 0);
    }
    case SortKey::kImage:
      return (a.image > b.image) - (a.image < b.image);
    case SortKey::kCheckState:
      return (a.checkState > b.checkState) - (a.checkState < b.checkState);
    default:
      return (a.data > b.data) - (a.data < b.data);
  }
}

void ReferenceSort(std::vector<ListRow>& rows, std::int64_t first, std::int64_t last, const SortOrder& order) {
  if (order.key == SortKey::kNone) return;
  test::PartitionSort(rows, first, last, order.descending ? -1 : 1,
                      [&](const ListRow& a, const ListRow& b) { return CompareKeys(a, b, order); });
}

TEST(DecodeSortCode, FollowsTheCodeTable) {
  struct Case {
    std::int32_t code;
    SortKey key;
    std::int32_t column;
    bool descending;
  };
  const Case cases[] = {
      {0, SortKey::kNone, 0, false},        {-1, SortKey::kNone, 0, false},
      {5, SortKey::kNone, 0, false},        {0x7FF, SortKey::kNone, 0, false},
      {1, SortKey::kText, 0, false},        {0x800, SortKey::kText, 0, false},
      {2, SortKey::kImage, 0, false},       {3, SortKey::kCheckState, 0, false},
      {4, SortKey::kData, 0, false},        {0x801, SortKey::kSubText, 1, false},
      {0x803, SortKey::kSubText, 3, false}, {0x1800, SortKey::kSubText, 0x1000, false},
      {~1, SortKey::kText, 0, true},        {-2049, SortKey::kText, 0, true},
      {~4, SortKey::kData, 0, true},        {~0x803, SortKey::kSubText, 3, true},
      {-6, SortKey::kNone, 0, false},       {INT_MIN, SortKey::kSubText, 0x7FFFF7FF, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const SortOrder order = DecodeSortCode(c.code);
    EXPECT_EQ(order.key, c.key);
    if (c.key == SortKey::kNone) continue;
    EXPECT_EQ(order.column, c.key == SortKey::kSubText ? c.column : 0);
    EXPECT_EQ(order.descending, c.descending);
  }
}

TEST(SortRows, ComparesTextsAsBytesNotNumbers) {
  std::vector<ListRow> rows{Row("192.168.1.10"), Row("192.168.1.2"), Row("192.168.1.100")};
  SortRows(rows, 1, 3, 1);
  EXPECT_EQ(Texts(rows), (std::vector<std::string>{"192.168.1.10", "192.168.1.100", "192.168.1.2"}));
}

TEST(SortRows, HighBytesSortAfterAscii) {
  // GBK text: lead bytes are >= 0x81 and must not sort as negative chars.
  std::vector<ListRow> rows{Row("\xC4\xE3"), Row("z"), Row(""), Row("A")};
  SortRows(rows, 1, 4, 1);
  EXPECT_EQ(Texts(rows), (std::vector<std::string>{"", "A", "z", "\xC4\xE3"}));
}

TEST(SortRows, ColumnZeroCodeSortsLikeTheItemText) {
  const std::vector<ListRow> input{Row("b", {}, 1), Row("c", {}, 2), Row("a", {}, 3), Row("b", {}, 4)};
  std::vector<ListRow> byOne = input, byColumn = input, descending = input, byNotColumn = input;
  SortRows(byOne, 1, 4, 1);
  SortRows(byColumn, 1, 4, 0x800);
  EXPECT_EQ(Ids(byColumn), Ids(byOne));
  SortRows(descending, 1, 4, -2);
  SortRows(byNotColumn, 1, 4, -2049);
  EXPECT_EQ(Ids(byNotColumn), Ids(descending));
  EXPECT_EQ(Texts(descending), (std::vector<std::string>{"c", "b", "b", "a"}));
}

TEST(SortRows, MissingSubTextSortsAsEmpty) {
  std::vector<ListRow> rows{Row("x", {"1", "2", "b"}, 1), Row("y", {"1", "2"}, 2), Row("z", {"1", "2", "a"}, 3)};
  SortRows(rows, 1, 3, 0x803);
  EXPECT_EQ(Ids(rows), (std::vector<std::int32_t>{2, 3, 1}));
}

TEST(SortRows, CodesWithoutKeyLeaveTheOrder) {
  for (const std::int32_t code : {0, -1, 5, -6, 0x7FF}) {
    std::vector<ListRow> rows{Row("b", {}, 1), Row("a", {}, 2), Row("c", {}, 3)};
    SortRows(rows, 1, 3, code);
    EXPECT_EQ(Ids(rows), (std::vector<std::int32_t>{1, 2, 3})) << "code " << code;
  }
}

TEST(SortRows, NumericKeysAreSigned32BitValues) {
  std::vector<ListRow> rows(5);
  const std::int32_t values[] = {7, INT_MIN, -1, INT_MAX, 0};
  for (int k = 0; k < 5; ++k) rows[k].data = rows[k].image = rows[k].checkState = values[k];
  for (const std::int32_t code : {2, 3, 4}) {
    std::vector<ListRow> up = rows, down = rows;
    SortRows(up, 1, 5, code);
    SortRows(down, 1, 5, ~code);
    std::vector<std::int32_t> upData, downData;
    for (int k = 0; k < 5; ++k) upData.push_back(up[k].data), downData.push_back(down[k].data);
    EXPECT_EQ(upData, (std::vector<std::int32_t>{INT_MIN, -1, 0, 7, INT_MAX})) << "code " << code;
    EXPECT_EQ(downData, (std::vector<std::int32_t>{INT_MAX, 7, 0, -1, INT_MIN})) << "code " << code;
  }
}

// Random tables with many equal keys, random ranges and every kind of key:
// equal keys must end exactly where the recursive partition puts them.
TEST(SortRows, EqualKeysEndWhereThePartitionPutsThem) {
  std::mt19937 random(20240611);
  const std::int32_t codes[] = {1, 0x800, 2, 3, 4, 0x801, 0x802, ~1, ~2, ~3, ~4, ~0x801, ~0x802};
  for (int round = 0; round < 3000; ++round) {
    const int count = static_cast<int>(random() % 40);
    const int alphabet = 1 + static_cast<int>(random() % 5);
    std::vector<ListRow> rows;
    for (int k = 0; k < count; ++k) {
      ListRow row = Row(std::string(1 + random() % 2, static_cast<char>('a' + random() % alphabet)), {}, k);
      row.image = static_cast<std::int32_t>(random() % alphabet) - 1;
      row.checkState = static_cast<std::int32_t>(random() % alphabet);
      row.data = static_cast<std::int32_t>(random() % alphabet) * 1000;
      for (std::uint32_t s = random() % 3; s > 0; --s) row.subTexts.push_back(std::string(1, 'a' + random() % alphabet));
      rows.push_back(std::move(row));
    }
    const std::int32_t code = codes[random() % std::size(codes)];
    std::int64_t first = 1, last = count;
    if (round % 3 == 0) {
      first = static_cast<std::int64_t>(random() % (count + 3)) - 1;
      last = static_cast<std::int64_t>(random() % (count + 3)) - 1;
    }
    std::vector<ListRow> expected = rows;
    ReferenceSort(expected, std::max<std::int64_t>(first, 1), std::min<std::int64_t>(last, count),
                  DecodeSortCode(code));
    SortRows(rows, first, last, code);
    ASSERT_EQ(Ids(rows), Ids(expected)) << "round " << round << " code " << code << " range " << first << ".."
                                        << last;
  }
}

TEST(SortRows, RangesBeyondTheTableAreClamped) {
  std::vector<ListRow> rows{Row("c", {}, 1), Row("b", {}, 2), Row("a", {}, 3)};
  SortRows(rows, -5, 100, 1);
  EXPECT_EQ(Ids(rows), (std::vector<std::int32_t>{3, 2, 1}));
  SortRows(rows, 3, 2, -2);  // first after last: nothing to do
  SortRows(rows, 4, 9, -2);  // wholly beyond the table
  SortRows(rows, -9, 0, -2);
  EXPECT_EQ(Ids(rows), (std::vector<std::int32_t>{3, 2, 1}));
  SortRows(rows, 2, INT64_MAX, -2);
  EXPECT_EQ(Ids(rows), (std::vector<std::int32_t>{3, 1, 2}));
  std::vector<ListRow> none;
  SortRows(none, 1, 0, 1);
  SortRows(none, INT64_MIN, INT64_MAX, 1);
  EXPECT_TRUE(none.empty());
}

// Tables the scanner produces are nearly in order. The recursive partition
// would nest once per row and scan the whole rest each time; these run on a
// thread with the default stack and must finish well within the test's
// time limit.
std::vector<ListRow> AddressRows(int count, int copies) {
  std::vector<ListRow> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    const int host = k / copies;
    char text[32];
    std::snprintf(text, sizeof text, "10.%03d.%03d.%03d", host / 65536, host / 256 % 256, host % 256);
    rows.push_back(Row(text, {host % 2 ? "" : "name"}, k));
  }
  return rows;
}

void RunOnDefaultStack(const std::function<void()>& work) {
  std::thread worker(work);
  worker.join();
}

TEST(SortRows, LargeTablesInOrderStayInOrder) {
  RunOnDefaultStack([] {
    for (const int copies : {1, 2, 100000}) {
      std::vector<ListRow> rows = AddressRows(100000, copies);
      SortRows(rows, 1, 100000, 1);
      std::int32_t wrong = 0;
      for (std::int32_t k = 0; k < 100000; ++k) wrong += rows[k].indent != k;
      EXPECT_EQ(wrong, 0) << copies << " rows per key";
    }
  });
}

TEST(SortRows, LargeTablesInReverseAndByColumn) {
  RunOnDefaultStack([] {
    std::vector<ListRow> rows = AddressRows(100000, 2);
    SortRows(rows, 1, 100000, ~1);
    for (std::size_t k = 1; k < rows.size(); ++k) ASSERT_GE(rows[k - 1].text, rows[k].text) << k;
    SortRows(rows, 1, 100000, 1);
    for (std::size_t k = 1; k < rows.size(); ++k) ASSERT_LE(rows[k - 1].text, rows[k].text) << k;
    // Half the rows share one key, the other half another.
    SortRows(rows, 1, 100000, 0x801);
    for (std::size_t k = 1; k < rows.size(); ++k) ASSERT_LE(rows[k - 1].subTexts[0], rows[k].subTexts[0]) << k;
  });
}

}  // namespace
}  // namespace qv
