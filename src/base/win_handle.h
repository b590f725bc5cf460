#pragma once
// One owner per kernel handle (Win32 code only). The two kinds differ in the
// value that means "no handle": threads, events, processes and sections use
// NULL; files and the ICMP echo handle use INVALID_HANDLE_VALUE.

#include <windows.h>

#include <utility>

namespace qv {

template <HANDLE (*Invalid)()>
class BasicUniqueHandle {
 public:
  BasicUniqueHandle() noexcept = default;
  explicit BasicUniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
  BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : handle_(other.release()) {}
  BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  BasicUniqueHandle(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;
  ~BasicUniqueHandle() { reset(); }

  HANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Invalid() && handle_ != nullptr; }

  HANDLE release() noexcept { return std::exchange(handle_, Invalid()); }
  void reset(HANDLE handle = Invalid()) noexcept {
    const HANDLE old = std::exchange(handle_, handle);
    if (old != Invalid() && old != nullptr) ::CloseHandle(old);
  }

 private:
  HANDLE handle_ = Invalid();
};

inline HANDLE NullHandleValue() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }

// Threads, events, processes, file mappings.
using UniqueHandle = BasicUniqueHandle<&NullHandleValue>;
// Files (CreateFile fails with INVALID_HANDLE_VALUE).
using UniqueFile = BasicUniqueHandle<&InvalidHandleValue>;

}  // namespace qv
