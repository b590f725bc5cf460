#pragma once
// One whole list row (item and sub-items) and the sort that orders tables
// of rows before they are shown. Portable: no platform headers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct ListRow {
  std::string text;                     // item text, column 0
  std::int32_t image = 0;               // iImage
  std::int32_t checkState = 0;          // -1 none, 0 unchecked, 1 checked
  std::int32_t data = 0;                // lParam
  std::int32_t indent = 0;              // iIndent
  std::vector<std::string> subTexts;    // element k-1 is the text of column k
  std::vector<std::int32_t> subImages;  // element k-1 is the image of column k

  // A row has as many sub-items as the longer of its two arrays.
  std::size_t SubItemCount() const { return subTexts.size() > subImages.size() ? subTexts.size() : subImages.size(); }
};

enum class SortKey { kNone, kText, kImage, kCheckState, kData, kSubText };

struct SortOrder {
  SortKey key = SortKey::kNone;
  std::int32_t column = 0;  // 1-based sub-item for kSubText
  bool descending = false;
};

// Sort codes: 1 or 0x800 item text, 2 image, 3 check state, 4 data,
// 0x800 | c (c != 0) sub-item text c; the bitwise NOT of any of them sorts
// the same key descending; 0, -1 and every other value select no key.
SortOrder DecodeSortCode(std::int32_t code);

// The sort key of a row when the order sorts by text (item or sub-item);
// a sub-item the row does not have sorts as the empty text.
std::string_view TextKey(const ListRow& row, const SortOrder& order);

// Sorts rows[first-1 .. last-1] (1-based, inclusive) by the code. The
// order is exactly that of a quicksort taking the first row of each range
// as its pivot, so rows with equal keys always end in the same places.
// Positions outside 1 .. rows.size() are clamped to it.
void SortRows(std::vector<ListRow>& rows, std::int64_t first, std::int64_t last, std::int32_t code);

}  // namespace qv
