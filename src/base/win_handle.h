#pragma once
// One owner per handle (Win32 code only). Each kind of handle says which
// value means "no handle" and how a handle is given back: kernel objects
// (threads, events, processes, sections, timers) are NULL when absent,
// files and snapshots INVALID_HANDLE_VALUE; both are closed by CloseHandle.
// The window system's handles and mapped views have kinds of their own
// beside the code that makes them.

#include <windows.h>

#include <utility>

namespace qv {

// Kind: static H Empty() and static void Release(H).
template <class H, class Kind>
class UniqueOwner {
 public:
  UniqueOwner() noexcept = default;
  explicit UniqueOwner(H handle) noexcept : handle_(handle) {}
  UniqueOwner(UniqueOwner&& other) noexcept : handle_(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  ~UniqueOwner() { reset(); }

  H get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Kind::Empty(); }

  H release() noexcept { return std::exchange(handle_, Kind::Empty()); }
  void reset(H handle = Kind::Empty()) noexcept {
    const H old = std::exchange(handle_, handle);
    if (old != Kind::Empty()) Kind::Release(old);
  }

 private:
  H handle_ = Kind::Empty();
};

struct KernelObjectKind {
  static HANDLE Empty() noexcept { return nullptr; }
  static void Release(HANDLE handle) noexcept { ::CloseHandle(handle); }
};

struct FileHandleKind {
  static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Release(HANDLE handle) noexcept { ::CloseHandle(handle); }
};

// Threads, events, processes, file mappings, waitable timers.
using UniqueHandle = UniqueOwner<HANDLE, KernelObjectKind>;
// Files (CreateFile fails with INVALID_HANDLE_VALUE) and tool-help snapshots.
using UniqueFile = UniqueOwner<HANDLE, FileHandleKind>;

}  // namespace qv
