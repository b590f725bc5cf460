#pragma once
// A scan's list against the virtual LAN's truth file: every host that
// answers must be listed with its name and MAC, and nothing else.

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "lan/lan_truth.h"
#include "listview/list_row.h"

namespace qv::bench {

struct Recall {
  int expected = 0;
  int found = 0;
  int wrongNames = 0;
  int wrongMacs = 0;
  int notInTruth = 0;  // rows of addresses that do not answer or are unknown
};

// Each host listed wrongly is described on stderr.
inline Recall CompareWithTruth(const std::vector<ListRow>& rows, const std::vector<test::TruthRow>& truth) {
  std::map<std::string, const ListRow*> listed;
  for (const ListRow& row : rows) listed[row.text] = &row;
  Recall recall;
  std::map<std::string, bool> answers;
  for (const test::TruthRow& host : truth) {
    answers[qv::test::Padded(host.address)] = host.answersEcho;
    if (!host.answersEcho) continue;
    ++recall.expected;
    const auto it = listed.find(qv::test::Padded(host.address));
    if (it == listed.end()) continue;
    ++recall.found;
    const std::vector<std::string>& cells = it->second->subTexts;
    const bool nameRight = cells.size() >= 2 && cells[0] == host.name;
    const bool macRight = cells.size() >= 2 && cells[1] == host.mac;
    recall.wrongNames += nameRight ? 0 : 1;
    recall.wrongMacs += macRight ? 0 : 1;
    if (!nameRight || !macRight)
      std::fprintf(stderr, "%s listed as '%s' '%s', truth '%s' '%s'\n", host.address.c_str(),
                   cells.size() >= 2 ? cells[0].c_str() : "", cells.size() >= 2 ? cells[1].c_str() : "",
                   host.name.c_str(), host.mac.c_str());
  }
  for (const ListRow& row : rows) {
    const auto it = answers.find(row.text);
    if (it == answers.end() || !it->second) ++recall.notInTruth;
  }
  return recall;
}

}  // namespace qv::bench
