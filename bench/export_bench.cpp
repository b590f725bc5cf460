// Cost of an export of 5,000 rows: building the text (time and heap
// allocations per build) and writing it in one piece (time per write).
// Run under Wine: export_bench.exe [folder]; the folder defaults to the
// temporary folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "base/gbk_wide.h"
#include "export/export_text.h"
#include "export/whole_file.h"

namespace {
std::size_t g_allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

// The performance counter, not <chrono>: the library's <chrono> cannot be
// compiled with GBK literals.
LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double MicrosecondsSince(LONGLONG start) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(Now() - start) * 1e6 / static_cast<double>(frequency.QuadPart);
}

std::vector<qv::ExportRow> SampleRows(int count) {
  std::vector<qv::ExportRow> rows;
  rows.reserve(count);
  for (int i = 0; i < count; ++i) {
    rows.push_back({"192.168." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                    "主机-" + std::to_string(i) + ".lan", "00-1A-2B-3C-4D-5E", std::to_string(i % 1000)});
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int kRows = 5000;
  constexpr int kBuilds = 200;
  constexpr int kWrites = 20;
  const std::vector<qv::ExportRow> rows = SampleRows(kRows);

  std::size_t bytes = 0;
  const std::size_t allocationsBefore = g_allocations;
  const LONGLONG buildStart = Now();
  for (int i = 0; i < kBuilds; ++i) bytes = qv::ExportText(rows).size();
  const double buildMicroseconds = MicrosecondsSince(buildStart) / kBuilds;
  const double allocationsPerBuild = static_cast<double>(g_allocations - allocationsBefore) / kBuilds;

  char folder[MAX_PATH] = {};
  if (argc > 1) {
    std::snprintf(folder, sizeof folder, "%s\\", argv[1]);
  } else {
    GetTempPathA(MAX_PATH, folder);
  }
  const std::wstring path = qv::WideFromGbk(std::string(folder) + "qv_export_bench.txt");
  const std::string text = qv::ExportText(rows);
  bool written = true;
  const LONGLONG writeStart = Now();
  for (int i = 0; i < kWrites; ++i) written = qv::WriteWholeFile(path, text) && written;
  const double writeMicroseconds = MicrosecondsSince(writeStart) / kWrites;
  DeleteFileW(path.c_str());

  std::printf("export text, %d rows: %zu bytes, %.0f us and %.1f allocations per build\n", kRows, bytes,
              buildMicroseconds, allocationsPerBuild);
  std::printf("whole-file write of that text: %.0f us per write (%s)\n", writeMicroseconds,
              written ? "all succeeded" : "FAILED");
  return written ? 0 : 1;
}
