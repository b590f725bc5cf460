#include "listview/list_row.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <numeric>
#include <utility>

namespace qv {
namespace {

constexpr std::int32_t kColumnFlag = 0x800;

SortOrder DecodeKeyCode(std::int32_t code, bool descending) {
  if ((code & kColumnFlag) == kColumnFlag && (code ^ kColumnFlag) != 0)
    return {SortKey::kSubText, code ^ kColumnFlag, descending};
  switch (code) {
    case 1:
    case kColumnFlag:
      return {SortKey::kText, 0, descending};
    case 2:
      return {SortKey::kImage, 0, descending};
    case 3:
      return {SortKey::kCheckState, 0, descending};
    case 4:
      return {SortKey::kData, 0, descending};
    default:
      return {};
  }
}

std::int32_t NumericKey(const ListRow& row, SortKey key) {
  switch (key) {
    case SortKey::kImage:
      return row.image;
    case SortKey::kCheckState:
      return row.checkState;
    default:
      return row.data;
  }
}

// The partition below compares only integers: every key becomes its rank
// (equal keys, equal ranks). Descending order is ascending order of the
// bitwise NOT, which reverses the order without overflow.
std::vector<std::int32_t> RankKeys(const std::vector<ListRow>& rows, std::size_t begin, std::size_t count,
                                   const SortOrder& order) {
  std::vector<std::int32_t> ranks(count);
  if (order.key == SortKey::kText || order.key == SortKey::kSubText) {
    std::vector<std::uint32_t> byKey(count);
    std::iota(byKey.begin(), byKey.end(), 0u);
    const auto key = [&](std::uint32_t k) { return TextKey(rows[begin + k], order); };
    // string_view compares as unsigned bytes, the order texts sort in.
    std::sort(byKey.begin(), byKey.end(), [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
    std::int32_t rank = 0;
    for (std::size_t k = 0; k < count; ++k) {
      if (k > 0 && key(byKey[k]) != key(byKey[k - 1])) ++rank;
      ranks[byKey[k]] = rank;
    }
  } else {
    for (std::size_t k = 0; k < count; ++k) ranks[k] = NumericKey(rows[begin + k], order.key);
  }
  if (order.descending)
    for (std::int32_t& rank : ranks) rank = ~rank;
  return ranks;
}

constexpr std::size_t kNowhere = std::numeric_limits<std::size_t>::max();

// Smallest and largest rank over every range of positions, kept up to date
// as the partition moves rows. It lets the partition's scans jump straight
// to the next row they stop at, so a scan over a long run of rows in order
// costs a few tree steps instead of one comparison per row.
class RankTree {
 public:
  explicit RankTree(const std::vector<std::int32_t>& ranks) {
    while (leaves_ < ranks.size()) leaves_ *= 2;
    min_.assign(2 * leaves_, std::numeric_limits<std::int32_t>::max());
    max_.assign(2 * leaves_, std::numeric_limits<std::int32_t>::min());
    for (std::size_t k = 0; k < ranks.size(); ++k) min_[leaves_ + k] = max_[leaves_ + k] = ranks[k];
    for (std::size_t node = leaves_ - 1; node >= 1; --node) Pull(node);
  }

  void Set(std::size_t position, std::int32_t rank) {
    std::size_t node = leaves_ + position;
    min_[node] = max_[node] = rank;
    for (node /= 2; node >= 1; node /= 2) Pull(node);
  }

  // Rightmost position in [lo, hi] whose rank is below bound, or kNowhere.
  std::size_t LastBelow(std::size_t lo, std::size_t hi, std::int32_t bound) const {
    return LastBelow(1, 0, leaves_ - 1, lo, hi, bound);
  }

  // Leftmost position in [lo, hi] whose rank is above bound, or kNowhere.
  std::size_t FirstAbove(std::size_t lo, std::size_t hi, std::int32_t bound) const {
    return FirstAbove(1, 0, leaves_ - 1, lo, hi, bound);
  }

 private:
  void Pull(std::size_t node) {
    min_[node] = std::min(min_[2 * node], min_[2 * node + 1]);
    max_[node] = std::max(max_[2 * node], max_[2 * node + 1]);
  }

  std::size_t LastBelow(std::size_t node, std::size_t nodeLo, std::size_t nodeHi, std::size_t lo, std::size_t hi,
                        std::int32_t bound) const {
    if (nodeHi < lo || nodeLo > hi || min_[node] >= bound) return kNowhere;
    if (nodeLo == nodeHi) return nodeLo;
    const std::size_t mid = nodeLo + (nodeHi - nodeLo) / 2;
    const std::size_t right = LastBelow(2 * node + 1, mid + 1, nodeHi, lo, hi, bound);
    return right != kNowhere ? right : LastBelow(2 * node, nodeLo, mid, lo, hi, bound);
  }

  std::size_t FirstAbove(std::size_t node, std::size_t nodeLo, std::size_t nodeHi, std::size_t lo, std::size_t hi,
                         std::int32_t bound) const {
    if (nodeHi < lo || nodeLo > hi || max_[node] <= bound) return kNowhere;
    if (nodeLo == nodeHi) return nodeLo;
    const std::size_t mid = nodeLo + (nodeHi - nodeLo) / 2;
    const std::size_t left = FirstAbove(2 * node, nodeLo, mid, lo, hi, bound);
    return left != kNowhere ? left : FirstAbove(2 * node + 1, mid + 1, nodeHi, lo, hi, bound);
  }

  std::size_t leaves_ = 1;
  std::vector<std::int32_t> min_;
  std::vector<std::int32_t> max_;
};

// The arrangement being sorted: the rank at each position and the row it
// came from. Rows themselves move once, at the end.
struct Arrangement {
  std::vector<std::int32_t> rank;
  std::vector<std::uint32_t> origin;
  RankTree tree;

  void Move(std::size_t from, std::size_t to) { Put(to, rank[from], origin[from]); }
  void Put(std::size_t to, std::int32_t r, std::uint32_t o) {
    rank[to] = r;
    origin[to] = o;
    tree.Set(to, r);
  }
};

// One partition step with rows[lo] as the pivot: the right scan passes rows
// not below the pivot, the left scan rows not above it, and each stop moves
// one row into the hole the other side left. Returns the pivot's place.
std::size_t Partition(Arrangement& rows, std::size_t lo, std::size_t hi) {
  const std::int32_t pivotRank = rows.rank[lo];
  const std::uint32_t pivotOrigin = rows.origin[lo];
  std::size_t i = lo;
  std::size_t j = hi;
  while (i < j) {
    const std::size_t below = rows.tree.LastBelow(i + 1, j, pivotRank);
    j = below == kNowhere ? i : below;
    if (i < j) rows.Move(j, i++);
    if (i < j) {
      const std::size_t above = rows.tree.FirstAbove(i, j - 1, pivotRank);
      i = above == kNowhere ? j : above;
    }
    if (i < j) rows.Move(i, j--);
  }
  rows.Put(i, pivotRank, pivotOrigin);
  return i;
}

}  // namespace

SortOrder DecodeSortCode(std::int32_t code) {
  if (code > 0) return DecodeKeyCode(code, false);
  if (code < -1) return DecodeKeyCode(~code, true);
  return {};
}

std::string_view TextKey(const ListRow& row, const SortOrder& order) {
  if (order.key == SortKey::kText) return row.text;
  const auto column = static_cast<std::size_t>(order.column);
  return column >= 1 && column <= row.subTexts.size() ? std::string_view(row.subTexts[column - 1]) : std::string_view();
}

void SortRows(std::vector<ListRow>& rows, std::int64_t first, std::int64_t last, std::int32_t code) {
  const SortOrder order = DecodeSortCode(code);
  first = std::max<std::int64_t>(first, 1);
  last = std::min<std::int64_t>(last, static_cast<std::int64_t>(rows.size()));
  if (order.key == SortKey::kNone || first >= last) return;

  const auto begin = static_cast<std::size_t>(first - 1);
  const auto count = static_cast<std::size_t>(last - first + 1);
  std::vector<std::int32_t> ranks = RankKeys(rows, begin, count, order);
  RankTree tree(ranks);
  std::vector<std::uint32_t> origin(count);
  std::iota(origin.begin(), origin.end(), 0u);
  Arrangement arrangement{std::move(ranks), std::move(origin), std::move(tree)};

  // The two sides of a partition are disjoint, so the order they are done
  // in does not change the result; taking the smaller side next keeps the
  // list of pending ranges short even when every pivot is a minimum.
  struct Range {
    std::size_t begin, end;  // half-open
    bool NeedsSorting() const { return end - begin >= 2; }
  };
  std::vector<Range> pending{{0, count}};
  while (!pending.empty()) {
    const Range range = pending.back();
    pending.pop_back();
    const std::size_t pivot = Partition(arrangement, range.begin, range.end - 1);
    Range smaller{range.begin, pivot};
    Range larger{pivot + 1, range.end};
    if (smaller.end - smaller.begin > larger.end - larger.begin) std::swap(smaller, larger);
    if (larger.NeedsSorting()) pending.push_back(larger);
    if (smaller.NeedsSorting()) pending.push_back(smaller);
  }

  std::vector<ListRow> sorted;
  sorted.reserve(count);
  for (const std::uint32_t from : arrangement.origin) sorted.push_back(std::move(rows[begin + from]));
  std::move(sorted.begin(), sorted.end(), rows.begin() + static_cast<std::ptrdiff_t>(begin));
}

}  // namespace qv
