#pragma once
// Module binders for the echo service in tests: the system's own modules,
// with some of them taken away, standing in for others, or with an
// IcmpCreateFile that fails.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "scan/loaded_module.h"

namespace qv::test {

// Which module a binder looks in when asked for another; an empty name is a
// module that is missing.
using ModuleStandIns = std::vector<std::pair<std::string, std::string>>;

// The system's modules, except that a module named in standIns (in any
// case) is looked for under its stand-in's name. A stand-in such as
// version.dll is a module that loads and exports none of the echo functions.
inline ModuleBinder SystemModulesWith(ModuleStandIns standIns) {
  return [system = SystemModuleBinder(), standIns = std::move(standIns)](const char* moduleName,
                                                                        const char* functionName) -> void* {
    for (const auto& [name, standIn] : standIns) {
      if (lstrcmpiA(name.c_str(), moduleName) != 0) continue;
      return standIn.empty() ? nullptr : system(standIn.c_str(), functionName);
    }
    return system(moduleName, functionName);
  };
}

// As an IcmpCreateFile does where the system lets nothing open an ICMP
// handle.
inline HANDLE WINAPI IcmpCreateFileDenied() {
  SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

// The system's modules, but iphlpapi.dll's IcmpCreateFile always fails.
inline ModuleBinder SystemModulesWithCreateDenied() {
  return [system = SystemModuleBinder()](const char* moduleName, const char* functionName) -> void* {
    if (lstrcmpiA(moduleName, "iphlpapi.dll") == 0 && lstrcmpA(functionName, "IcmpCreateFile") == 0)
      return reinterpret_cast<void*>(&IcmpCreateFileDenied);
    return system(moduleName, functionName);
  };
}

}  // namespace qv::test
