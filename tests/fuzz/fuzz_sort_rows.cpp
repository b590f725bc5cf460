// Random tables of rows, a random sort code and a random range. SortRows
// must decode the code as the code table says, keep every row whole, sort
// the clamped range by the key in the direction asked for, leave the rows
// outside it where they were, and for small tables give exactly the order
// of the recursive partition written out step by step.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "listview/list_row.h"
#include "support/partition_sort.h"

namespace {

using qv::ListRow;

// The code table as written, apart from DecodeSortCode: positive codes
// test the column form first, negative ones (but -1) decode their bitwise
// NOT and sort descending.
struct Key {
  enum Kind { kNone, kText, kImage, kCheckState, kData, kColumn } kind = kNone;
  std::int32_t column = 0;
  bool descending = false;
};

Key DecodeByTable(std::int32_t code) {
  if (code == 0 || code == -1) return {};
  const bool descending = code < 0;
  const std::int32_t c = descending ? ~code : code;
  if ((c & 0x800) == 0x800 && (c ^ 0x800) != 0) return {Key::kColumn, c ^ 0x800, descending};
  switch (c) {
    case 1:
    case 0x800:
      return {Key::kText, 0, descending};
    case 2:
      return {Key::kImage, 0, descending};
    case 3:
      return {Key::kCheckState, 0, descending};
    case 4:
      return {Key::kData, 0, descending};
    default:
      return {};
  }
}

qv::SortKey AsSortKey(Key::Kind kind) {
  switch (kind) {
    case Key::kText:
      return qv::SortKey::kText;
    case Key::kImage:
      return qv::SortKey::kImage;
    case Key::kCheckState:
      return qv::SortKey::kCheckState;
    case Key::kData:
      return qv::SortKey::kData;
    case Key::kColumn:
      return qv::SortKey::kSubText;
    default:
      return qv::SortKey::kNone;
  }
}

std::string_view TextOf(const ListRow& row, const Key& key) {
  if (key.kind == Key::kText) return row.text;
  if (key.column >= 1 && static_cast<std::size_t>(key.column) <= row.subTexts.size())
    return row.subTexts[static_cast<std::size_t>(key.column) - 1];
  return {};
}

template <class T>
int Sign(T a, T b) {
  return (a > b) - (a < b);
}

// Ascending comparison of the keys; char_traits compares bytes unsigned.
int Compare(const ListRow& a, const ListRow& b, const Key& key) {
  switch (key.kind) {
    case Key::kText:
    case Key::kColumn:
      return Sign(TextOf(a, key).compare(TextOf(b, key)), 0);
    case Key::kImage:
      return Sign(a.image, b.image);
    case Key::kCheckState:
      return Sign(a.checkState, b.checkState);
    default:
      return Sign(a.data, b.data);
  }
}

void PartitionSort(std::vector<ListRow>& rows, std::int64_t first, std::int64_t last, const Key& key) {
  if (key.kind == Key::kNone) return;
  qv::test::PartitionSort(rows, first, last, key.descending ? -1 : 1,
                          [&](const ListRow& a, const ListRow& b) { return Compare(a, b, key); });
}

bool SameRow(const ListRow& a, const ListRow& b) {
  return a.text == b.text && a.image == b.image && a.checkState == b.checkState && a.data == b.data &&
         a.indent == b.indent && a.subTexts == b.subTexts && a.subImages == b.subImages;
}

void Require(bool holds) {
  if (!holds) std::abort();
}

// Texts and numbers from a few values, so that equal keys are common, or
// from the whole range.
std::string Text(FuzzedDataProvider& input, bool few) {
  if (!few) return input.ConsumeRandomLengthString(24);
  static constexpr char kBytes[] = {'a', 'b', '\x80', '\xFF'};
  std::string text(input.ConsumeIntegralInRange<std::size_t>(0, 2), 'a');
  for (char& c : text) c = kBytes[input.ConsumeIntegralInRange<std::size_t>(0, 3)];
  return text;
}

std::int32_t Number(FuzzedDataProvider& input, bool few) {
  return few ? input.ConsumeIntegralInRange<std::int32_t>(-2, 2) : input.ConsumeIntegral<std::int32_t>();
}

// The row's position in the input goes into indent, which no code sorts by.
ListRow RandomRow(FuzzedDataProvider& input, std::int32_t id) {
  const bool few = input.ConsumeBool();
  ListRow row;
  row.text = Text(input, few);
  row.image = Number(input, few);
  row.checkState = Number(input, few);
  row.data = Number(input, few);
  row.indent = id;
  for (std::size_t k = input.ConsumeIntegralInRange<std::size_t>(0, 4); k > 0; --k) row.subTexts.push_back(Text(input, few));
  for (std::size_t k = input.ConsumeIntegralInRange<std::size_t>(0, 4); k > 0; --k)
    row.subImages.push_back(Number(input, few));
  return row;
}

std::int32_t RandomCode(FuzzedDataProvider& input) {
  static constexpr std::int32_t kCodes[] = {0,  -1, 1,  2,      3,      4,      5,      0x800,  0x801,      0x802,
                                            0x803, 0x804, ~1, ~2, ~3, ~4, ~0x800, ~0x801, ~0x803, INT32_MIN};
  return input.ConsumeBool() ? input.PickValueInArray(kCodes) : input.ConsumeIntegral<std::int32_t>();
}

std::int64_t RandomPosition(FuzzedDataProvider& input, std::int64_t count) {
  return input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int64_t>(-2, count + 2)
                             : input.ConsumeIntegral<std::int64_t>();
}

constexpr std::size_t kMostRows = 300;
constexpr std::size_t kMostRowsForTheStepByStepOrder = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::int32_t code = RandomCode(input);
  const auto count = input.ConsumeIntegralInRange<std::size_t>(0, kMostRows);
  const std::int64_t first = RandomPosition(input, static_cast<std::int64_t>(count));
  const std::int64_t last = RandomPosition(input, static_cast<std::int64_t>(count));
  std::vector<ListRow> rows;
  for (std::size_t k = 0; k < count && input.remaining_bytes() > 0; ++k)
    rows.push_back(RandomRow(input, static_cast<std::int32_t>(k)));
  const std::vector<ListRow> before = rows;

  const Key key = DecodeByTable(code);
  const qv::SortOrder decoded = qv::DecodeSortCode(code);
  Require(decoded.key == AsSortKey(key.kind));
  if (key.kind != Key::kNone) Require(decoded.descending == key.descending);
  if (key.kind == Key::kColumn) Require(decoded.column == key.column);

  qv::SortRows(rows, first, last, code);

  // Every row whole, each exactly once.
  Require(rows.size() == before.size());
  std::vector<bool> seen(rows.size(), false);
  for (const ListRow& row : rows) {
    const auto id = static_cast<std::size_t>(row.indent);
    Require(id < before.size() && !seen[id] && SameRow(row, before[id]));
    seen[id] = true;
  }

  const auto n = static_cast<std::int64_t>(rows.size());
  const std::int64_t lo = std::max<std::int64_t>(first, 1);
  const std::int64_t hi = std::min<std::int64_t>(last, n);
  const bool sorts = key.kind != Key::kNone && lo < hi;
  for (std::int64_t k = 1; k <= n; ++k) {
    const auto at = static_cast<std::size_t>(k - 1);
    if (!sorts || k < lo || k > hi) Require(rows[at].indent == before[at].indent);
  }
  const int sign = key.descending ? -1 : 1;
  if (sorts)
    for (std::int64_t k = lo; k < hi; ++k)
      Require(sign * Compare(rows[static_cast<std::size_t>(k - 1)], rows[static_cast<std::size_t>(k)], key) <= 0);

  if (rows.size() <= kMostRowsForTheStepByStepOrder) {
    std::vector<ListRow> expected = before;
    PartitionSort(expected, lo, hi, key);
    for (std::size_t k = 0; k < rows.size(); ++k) Require(rows[k].indent == expected[k].indent);
  }
  return 0;
}
