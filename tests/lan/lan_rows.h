#pragma once
// The program's list held against the virtual LAN's truth: the rows a sweep
// of the bed's whole range must show, and the check that it shows them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lan/lan_truth.h"
#include "listview/list_row.h"

namespace qv::test {

inline bool IsDecimal(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The hosts that answer, as the list shows them: sorted by display address.
inline std::vector<TruthRow> ExpectedRows(const std::vector<TruthRow>& truth) {
  std::vector<TruthRow> rows;
  for (const TruthRow& row : truth)
    if (row.answersEcho) rows.push_back(row);
  std::sort(rows.begin(), rows.end(),
            [](const TruthRow& a, const TruthRow& b) { return Padded(a.address) < Padded(b.address); });
  return rows;
}

// Every host that answers, with its name, MAC and a reply time within the
// time-out, and no other.
inline void ExpectRowsMatchTruth(const std::vector<ListRow>& rows, const std::vector<TruthRow>& truth,
                                 int timeoutMs) {
  const std::vector<TruthRow> expected = ExpectedRows(truth);
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].address);
    const ListRow& row = rows[i];
    ASSERT_EQ(row.subTexts.size(), 3u);
    EXPECT_EQ(row.text, Padded(expected[i].address));
    EXPECT_EQ(row.subTexts[0], expected[i].name);
    EXPECT_EQ(row.subTexts[1], expected[i].mac);
    EXPECT_TRUE(IsDecimal(row.subTexts[2])) << "reply time '" << row.subTexts[2] << "'";
    EXPECT_LE(std::atoi(row.subTexts[2].c_str()), timeoutMs);
  }
  for (const TruthRow& host : truth) {
    if (host.answersEcho) continue;
    EXPECT_TRUE(std::none_of(rows.begin(), rows.end(),
                             [&](const ListRow& row) { return row.text == Padded(host.address); }))
        << host.address << " does not answer echoes but is listed";
  }
}

}  // namespace qv::test
