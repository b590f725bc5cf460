#pragma once
// The virtual LAN's truth file (written by testbed.sh): one line per
// address, tab-separated: address, host name or empty, MAC text or empty,
// "yes" or "no" for whether it answers an echo. '#' starts a comment line;
// the first row is the scanner itself.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace qv::test {

// "10.77.5.1" -> "10.77.5."
inline std::string Prefix(const std::string& address) { return address.substr(0, address.rfind('.') + 1); }

// x.y.z.10 -> x.y.z.010, the list's address text. Written apart from the
// program's own padding on purpose: the LAN tests and the benchmarks check
// the program's rows against it.
inline std::string Padded(const std::string& address) {
  char last[8];
  std::snprintf(last, sizeof last, "%03d", std::atoi(address.c_str() + address.rfind('.') + 1));
  return Prefix(address) + last;
}

struct TruthRow {
  std::string address;
  std::string name;
  std::string mac;
  bool answersEcho = false;
};

inline std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// Empty when the file is missing or a line is malformed.
inline std::vector<TruthRow> ReadTruth(const char* path) {
  std::vector<TruthRow> rows;
  if (path == nullptr) return rows;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() != 4) return {};
    rows.push_back({f[0], f[1], f[2], f[3] == "yes"});
  }
  return rows;
}

}  // namespace qv::test
