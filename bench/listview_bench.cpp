// Times of the list-view row operations: bulk insert into a real list of
// this process, and the sort of tables in the order the scanner makes them.
// Prints one line per case with the best of several runs.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "listview/list_row.h"
#include "listview/list_view_wrapper.h"

namespace {

double Milliseconds(const std::function<void()>& work) {
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  work();
  ::QueryPerformanceCounter(&end);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Best(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  double best = 1e300;
  for (int k = 0; k < runs; ++k) {
    prepare();
    const double time = Milliseconds(work);
    if (time < best) best = time;
  }
  return best;
}

// Result rows as the scanner makes them: display address, host name, MAC,
// reply time; in address order. Every other host has no name.
std::vector<qv::ListRow> ScanRows(int count) {
  std::vector<qv::ListRow> rows(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    char address[32], mac[32];
    std::snprintf(address, sizeof address, "10.%03d.%03d.%03d", k / 65536, k / 256 % 256, k % 256);
    std::snprintf(mac, sizeof mac, "00-16-3E-%02X-%02X-%02X", k / 65536, k / 256 % 256, k % 256);
    qv::ListRow& row = rows[static_cast<std::size_t>(k)];
    row.text = address;
    row.subTexts = {k % 2 ? "" : "host-" + std::to_string(k), mac, std::to_string(k % 7)};
  }
  return rows;
}

}  // namespace

int main() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ::DefWindowProcA;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QvListBench";
  ::RegisterClassA(&windowClass);
  const HWND parent = ::CreateWindowExA(0, "QvListBench", "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
  const HWND listWindow = ::CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 780, 560,
                                            parent, nullptr, windowClass.hInstance, nullptr);
  qv::ListViewWrapper list;
  if (!list.Attach(listWindow)) {
    std::printf("no list view\n");
    return 1;
  }
  for (const char* title : {"address", "name", "MAC", "time"}) list.InsertColumn(std::nullopt, title, 120);

  std::printf("%-66s %10s\n", "case", "best ms");
  for (const int count : {255, 5000}) {
    const std::vector<qv::ListRow> rows = ScanRows(count);
    const double time = Best(5, [&] { list.DeleteAllItems(); }, [&] { list.InsertRows(std::nullopt, rows, 1); });
    std::printf("InsertRows %6d four-column rows, same process %-20s %10.2f\n", count, "", time);
  }
  {
    const std::vector<qv::ListRow> rows = ScanRows(255);
    list.EnableCrossProcess();
    const double time = Best(5, [&] { list.DeleteAllItems(); }, [&] { list.InsertRows(std::nullopt, rows, 1); });
    list.DisableCrossProcess();
    std::printf("InsertRows %6d four-column rows, cross-process mode %-14s %10.2f\n", 255, "", time);
  }

  struct SortCase {
    const char* name;
    int code;
  };
  const SortCase sorts[] = {{"by address, rows in address order", 1},
                            {"by address descending, rows in address order", ~1},
                            {"by host name (half empty)", 0x801},
                            {"by reply time (7 values)", 0x803}};
  for (const int count : {5000, 100000}) {
    const std::vector<qv::ListRow> table = ScanRows(count);
    for (const SortCase& sort : sorts) {
      std::vector<qv::ListRow> rows;
      const double time = Best(3, [&] { rows = table; },
                               [&] { qv::SortRows(rows, 1, static_cast<std::int64_t>(rows.size()), sort.code); });
      std::printf("SortRows %6d rows %-46s %10.2f\n", count, sort.name, time);
    }
  }
  ::DestroyWindow(parent);
  return 0;
}
