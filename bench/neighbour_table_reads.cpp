// Reads the system's neighbour table again and again from a few threads, as
// a scan's MAC look-ups do, for bench/run_neighbour_churn.sh: sends nothing.
//
//   neighbour_table_reads.exe <seconds> <threads>
//
// Prints the reads made, how many failed and the largest row count seen.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

std::atomic<long> reads{0};
std::atomic<long> failures{0};
std::atomic<unsigned long> largest{0};

void ReadUntil(DWORD endTick) {
  std::vector<unsigned char> buffer;
  while (static_cast<LONG>(GetTickCount() - endTick) < 0) {
    ULONG size = 0;
    GetIpNetTable(nullptr, &size, FALSE);
    // The table may grow before the second call: room for more rows.
    buffer.assign(size + 64 * sizeof(MIB_IPNETROW), 0);
    size = static_cast<ULONG>(buffer.size());
    auto* table = reinterpret_cast<MIB_IPNETTABLE*>(buffer.data());
    const DWORD result = GetIpNetTable(table, &size, FALSE);
    ++reads;
    if (result != NO_ERROR) {
      ++failures;
      continue;
    }
    unsigned long seen = largest.load();
    while (table->dwNumEntries > seen && !largest.compare_exchange_weak(seen, table->dwNumEntries)) {
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: neighbour_table_reads.exe <seconds> <threads>\n");
    return 2;
  }
  const DWORD endTick = GetTickCount() + 1000u * static_cast<DWORD>(std::atoi(argv[1]));
  std::vector<std::thread> threads;
  for (int i = 0; i < std::max(1, std::atoi(argv[2])); ++i) threads.emplace_back(ReadUntil, endTick);
  for (std::thread& thread : threads) thread.join();
  std::printf("reads=%ld failures=%ld largest_table=%lu\n", reads.load(), failures.load(), largest.load());
  return 0;
}
