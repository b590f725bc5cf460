#pragma once
// Whether the platform is Wine (Win32 code only). What the program does only
// because of a fault of Wine happens only where this holds.

#include <windows.h>

namespace qv {

// Wine's ntdll exports its version; Windows' never does.
inline bool RunsOnWine() {
  static const bool wine = [] {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

}  // namespace qv
