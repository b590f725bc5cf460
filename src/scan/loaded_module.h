#pragma once
// One owner per loaded DLL (Win32 code only): freed when the owner goes, and
// its functions found by name with the caller's function type. And the
// binder through which code that binds functions at run time finds them, so
// that a test can take a module away or stand in for one.

#include <windows.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/win_handle.h"

namespace qv {

struct LoadedLibraryKind {
  static HMODULE Empty() noexcept { return nullptr; }
  static void Release(HMODULE module) noexcept { FreeLibrary(module); }
};

class LoadedModule {
 public:
  // Loads the DLL from the system folder only: a bare name would also be
  // looked for beside the program, where anyone could have placed a copy.
  explicit LoadedModule(const char* fileName) noexcept : module_(LoadFromSystemFolder(fileName)) {}

  explicit operator bool() const noexcept { return static_cast<bool>(module_); }

  // The exported function, or nullptr when the module or the name is missing.
  template <typename Function>
  Function Find(const char* name) const noexcept {
    if (!module_) return nullptr;
    // Through void*: a direct cast between unrelated function types warns.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
  }

 private:
  static HMODULE LoadFromSystemFolder(const char* fileName) noexcept {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    char path[MAX_PATH];
    const int written = std::snprintf(path, sizeof path, "%s\\%s", folder, fileName);
    if (written < 0 || written >= MAX_PATH) return nullptr;
    return LoadLibraryA(path);
  }

  UniqueOwner<HMODULE, LoadedLibraryKind> module_;
};

// The address of the function that a module exports under a name, or nullptr
// when the module or the function is missing. What it finds stays usable for
// as long as the binder (any copy of it) lives.
using ModuleBinder = std::function<void*(const char* moduleName, const char* functionName)>;

// The modules of the system folder, each loaded at its first use and freed
// when the last copy of the binder goes.
inline ModuleBinder SystemModuleBinder() {
  class Modules {
   public:
    void* Find(const char* moduleName, const char* functionName) {
      const std::lock_guard<std::mutex> hold(mutex_);
      const LoadedModule& module = modules_.try_emplace(moduleName, moduleName).first->second;
      return module.Find<void*>(functionName);
    }

   private:
    std::mutex mutex_;
    std::map<std::string, LoadedModule> modules_;
  };
  auto modules = std::make_shared<Modules>();
  return [modules](const char* moduleName, const char* functionName) { return modules->Find(moduleName, functionName); };
}

}  // namespace qv
