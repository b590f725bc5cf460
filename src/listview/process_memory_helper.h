#pragma once
// Memory that a window's process can address: opens the process that owns a
// window, allocates, copies into and out of, and frees blocks there. On the
// NT family the blocks are virtual memory inside that process; elsewhere
// they are views of paging-file sections, which the older family maps at
// the same address in every process.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "base/win_handle.h"

namespace qv {

// An address in the other process: only ever handed to the control.
using RemoteAddress = std::uintptr_t;

// Operating-system families as GetVersionExA reports them.
enum PlatformKind : int {
  kPlatformUnknown = 0,
  kPlatformWin32s = 1,
  kPlatformWindows = 2,  // 95, 98, Me
  kPlatformNt = 3,
};

struct MappedViewKind {
  static void* Empty() noexcept { return nullptr; }
  static void Release(void* view) noexcept { ::UnmapViewOfFile(view); }
};

// A mapped view; unmapped when the owner goes.
using UniqueView = UniqueOwner<void*, MappedViewKind>;

// One block of the section variant: the section and its view in this process.
struct MappingRecord {
  UniqueHandle section;
  UniqueView view;
};

class ProcessMemoryHelper {
 public:
  // The family of the running system, from GetVersionExA.
  ProcessMemoryHelper();
  // A given family, so that either variant can run on any system.
  explicit ProcessMemoryHelper(int platformKind);
  ProcessMemoryHelper(const ProcessMemoryHelper&) = delete;
  ProcessMemoryHelper& operator=(const ProcessMemoryHelper&) = delete;

  // The operations keep this order: the destructor first, Clone second.
  virtual ~ProcessMemoryHelper();
  // Same family; the copy owns no blocks (a section belongs to one owner).
  virtual std::unique_ptr<ProcessMemoryHelper> Clone() const;
  // A handle with all access to the window's process, or null; the caller
  // owns it until CloseProcess.
  virtual HANDLE OpenWindowProcess(HWND window);
  virtual bool WriteMemory(HANDLE process, RemoteAddress remote, const void* local, std::size_t count);
  // Closes the handle (null: does nothing) and releases any blocks left.
  virtual void CloseProcess(HANDLE process);
  // count bytes from the other process; all zero when they cannot be read.
  virtual std::vector<std::uint8_t> ReadMemory(HANDLE process, RemoteAddress remote, std::size_t count);
  // 0 on failure.
  virtual RemoteAddress AllocateMemory(HANDLE process, std::size_t count);
  // False when the address is not a block of this helper's.
  virtual bool FreeMemory(HANDLE process, RemoteAddress address);

  int PlatformKind() const { return platformKind_; }
  // The live blocks of the section variant, oldest first.
  const std::vector<MappingRecord>& Mappings() const { return mappings_; }

 private:
  RemoteAddress AllocateSection(std::size_t count);
  bool FreeSection(RemoteAddress address);

  std::vector<MappingRecord> mappings_;
  int platformKind_;
};

// The operating-system family of the running system.
int CurrentPlatformKind();

// The process of a window, open for the life of the object.
class RemoteProcess {
 public:
  RemoteProcess(ProcessMemoryHelper& memory, HWND window) : memory_(memory), process_(memory.OpenWindowProcess(window)) {}
  RemoteProcess(const RemoteProcess&) = delete;
  RemoteProcess& operator=(const RemoteProcess&) = delete;
  ~RemoteProcess() {
    if (process_) memory_.CloseProcess(process_);
  }

  explicit operator bool() const { return process_ != nullptr; }
  ProcessMemoryHelper& memory() const { return memory_; }
  HANDLE handle() const { return process_; }

 private:
  ProcessMemoryHelper& memory_;
  HANDLE process_;
};

// A block in another process, freed when the object goes. Must not outlive
// the RemoteProcess it came from.
class RemoteBlock {
 public:
  RemoteBlock() noexcept = default;
  RemoteBlock(const RemoteProcess& process, std::size_t count)
      : memory_(&process.memory()), process_(process.handle()), address_(memory_->AllocateMemory(process_, count)) {}
  RemoteBlock(RemoteBlock&& other) noexcept
      : memory_(other.memory_), process_(other.process_), address_(std::exchange(other.address_, 0)) {}
  RemoteBlock& operator=(RemoteBlock&& other) noexcept {
    if (this != &other) {
      Free();
      memory_ = other.memory_;
      process_ = other.process_;
      address_ = std::exchange(other.address_, 0);
    }
    return *this;
  }
  ~RemoteBlock() { Free(); }

  explicit operator bool() const { return address_ != 0; }
  RemoteAddress address() const { return address_; }

  bool Write(const void* local, std::size_t count) const { return memory_->WriteMemory(process_, address_, local, count); }
  std::vector<std::uint8_t> Read(std::size_t count) const { return memory_->ReadMemory(process_, address_, count); }

 private:
  void Free() noexcept {
    if (address_) memory_->FreeMemory(process_, address_);
    address_ = 0;
  }

  ProcessMemoryHelper* memory_ = nullptr;
  HANDLE process_ = nullptr;
  RemoteAddress address_ = 0;
};

}  // namespace qv
