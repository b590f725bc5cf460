#pragma once
// The row sort's partition steps written out plainly: 1-based positions, the
// first row of a range as pivot, recursion on both sides. Tests compare the
// real sort, which iterates and skips ahead, with this.

#include <cstdint>
#include <vector>

#include "listview/list_row.h"

namespace qv::test {

// compare(a, b) < 0, 0 or > 0 by the sort key; sign -1 sorts descending.
template <class Compare>
void PartitionSort(std::vector<ListRow>& rows, std::int64_t first, std::int64_t last, int sign,
                   const Compare& compare) {
  if (first >= last) return;
  const auto at = [&](std::int64_t k) -> ListRow& { return rows[static_cast<std::size_t>(k - 1)]; };
  const ListRow pivot = at(first);
  std::int64_t i = first;
  std::int64_t j = last;
  while (i < j) {
    while (i < j && sign * compare(at(j), pivot) >= 0) --j;
    if (i < j) at(i++) = at(j);
    while (i < j && sign * compare(at(i), pivot) <= 0) ++i;
    if (i < j) at(j--) = at(i);
  }
  at(i) = pivot;
  PartitionSort(rows, first, i - 1, sign, compare);
  PartitionSort(rows, i + 1, last, sign, compare);
}

}  // namespace qv::test
