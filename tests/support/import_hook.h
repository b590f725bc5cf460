#pragma once
// Sends the calls that the test's own executable makes to one imported
// function to a replacement instead, while the hook lives: the import table's
// slot for it is rewritten. Lets a test count the calls that the code under
// test makes to the system.

#include <windows.h>

namespace qv::test {

// The function as the DLL exports it, for a replacement to call on.
template <class Function>
Function ExportedFunction(const char* dll, const char* name) {
  // Through void*: a direct cast between unrelated function types warns.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), name)));
}

class ImportHook {
 public:
  // dll as the import table names it ("WS2_32.dll" matches "ws2_32.dll").
  ImportHook(const char* dll, const char* function, void* replacement) {
    const HMODULE module = GetModuleHandleA(dll);
    const FARPROC target = module != nullptr ? GetProcAddress(module, function) : nullptr;
    if (target == nullptr) return;
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name != 0;
         ++entry) {
      if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
      for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); slot->u1.Function != 0;
           ++slot) {
        if (slot->u1.Function != reinterpret_cast<ULONG_PTR>(target)) continue;
        slot_ = &slot->u1.Function;
        original_ = *slot_;
        Write(reinterpret_cast<ULONG_PTR>(replacement));
        return;
      }
    }
  }
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;
  ~ImportHook() {
    if (slot_ != nullptr) Write(original_);
  }

  // False when the executable does not import the function from that DLL.
  bool active() const { return slot_ != nullptr; }

 private:
  void Write(ULONG_PTR value) {
    DWORD protection = 0;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
    *slot_ = value;
    VirtualProtect(slot_, sizeof *slot_, protection, &protection);
  }

  decltype(IMAGE_THUNK_DATA::u1.Function)* slot_ = nullptr;
  decltype(IMAGE_THUNK_DATA::u1.Function) original_ = 0;
};

}  // namespace qv::test
