#include "listview/process_memory_helper.h"

#include <algorithm>

namespace qv {
namespace {

// All process rights in the form that predates Windows Vista's wider mask,
// which older systems refuse.
constexpr DWORD kAllProcessAccess = 0x1F0FFF;

}  // namespace

int CurrentPlatformKind() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  // Only the platform id is read, which the version lie of newer systems
  // does not touch.
  if (!::GetVersionExA(&version)) return kPlatformUnknown;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
      return kPlatformWin32s;
    case VER_PLATFORM_WIN32_WINDOWS:
      return kPlatformWindows;
    case VER_PLATFORM_WIN32_NT:
      return kPlatformNt;
    default:
      return kPlatformUnknown;
  }
}

ProcessMemoryHelper::ProcessMemoryHelper() : ProcessMemoryHelper(CurrentPlatformKind()) {}

ProcessMemoryHelper::ProcessMemoryHelper(int platformKind) : platformKind_(platformKind) {}

ProcessMemoryHelper::~ProcessMemoryHelper() = default;

std::unique_ptr<ProcessMemoryHelper> ProcessMemoryHelper::Clone() const {
  return std::make_unique<ProcessMemoryHelper>(platformKind_);
}

HANDLE ProcessMemoryHelper::OpenWindowProcess(HWND window) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  if (processId == 0) return nullptr;
  return ::OpenProcess(kAllProcessAccess, FALSE, processId);
}

bool ProcessMemoryHelper::WriteMemory(HANDLE process, RemoteAddress remote, const void* local, std::size_t count) {
  return ::WriteProcessMemory(process, reinterpret_cast<void*>(remote), local, count, nullptr) != 0;
}

void ProcessMemoryHelper::CloseProcess(HANDLE process) {
  if (!process) return;
  ::CloseHandle(process);
  mappings_.clear();
}

std::vector<std::uint8_t> ProcessMemoryHelper::ReadMemory(HANDLE process, RemoteAddress remote, std::size_t count) {
  std::vector<std::uint8_t> block(count);
  // A read that fails part way may have copied some bytes: the caller is
  // promised all zeros then, not a mixture.
  if (count != 0 && !::ReadProcessMemory(process, reinterpret_cast<const void*>(remote), block.data(), count, nullptr))
    std::fill(block.begin(), block.end(), std::uint8_t{0});
  return block;
}

RemoteAddress ProcessMemoryHelper::AllocateMemory(HANDLE process, std::size_t count) {
  if (platformKind_ != kPlatformNt) return AllocateSection(count);
  return reinterpret_cast<RemoteAddress>(::VirtualAllocEx(process, nullptr, count, MEM_COMMIT, PAGE_READWRITE));
}

bool ProcessMemoryHelper::FreeMemory(HANDLE process, RemoteAddress address) {
  if (platformKind_ != kPlatformNt) return FreeSection(address);
  return ::VirtualFreeEx(process, reinterpret_cast<void*>(address), 0, MEM_RELEASE) != 0;
}

RemoteAddress ProcessMemoryHelper::AllocateSection(std::size_t count) {
  const auto size = static_cast<std::uint64_t>(count);
  MappingRecord record;
  record.section.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                            static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr));
  if (!record.section) return 0;
  record.view = UniqueView(::MapViewOfFile(record.section.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!record.view.get()) return 0;
  const auto address = reinterpret_cast<RemoteAddress>(record.view.get());
  mappings_.push_back(std::move(record));
  return address;
}

bool ProcessMemoryHelper::FreeSection(RemoteAddress address) {
  const auto found = std::find_if(mappings_.begin(), mappings_.end(), [address](const MappingRecord& record) {
    return reinterpret_cast<RemoteAddress>(record.view.get()) == address;
  });
  if (found == mappings_.end()) return false;
  mappings_.erase(found);  // unmaps the view, then closes the section
  return true;
}

}  // namespace qv
