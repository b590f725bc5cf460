#pragma once
// Lists to drive in tests: one in this process, or one in a host process
// (list_host.exe) so that cross-process mode meets a real other process.

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/gbk_wide.h"
#include "base/win_handle.h"
#include "listview/list_view_layouts.h"
#include "listview/list_view_wrapper.h"
#include "listview/process_memory_helper.h"
#include "support/launched_program.h"
#include "support/time_limit.h"
#include "support/window_driver.h"

namespace qv::test {

// Messages the host understands (see list_host.cpp).
inline constexpr UINT kHostNewList = WM_APP + 1;  // wParam style -> new list's HWND
inline constexpr char kHostClass[] = "QvListHost";
inline constexpr DWORD kReportStyle = LVS_REPORT | LVS_SHOWSELALWAYS | LVS_EDITLABELS;

inline std::string ProgramDirectory() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path);
  return directory.substr(0, directory.find_last_of("\\/") + 1);
}

// One visible top-level window for all lists of this process: the first
// one costs Wine seconds to show, later children nothing.
inline HWND SharedParent() {
  static const HWND parent = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QvListTestParent";
    ::RegisterClassA(&windowClass);
    return ::CreateWindowExA(0, "QvListTestParent", "list test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 500, 400,
                             nullptr, nullptr, windowClass.hInstance, nullptr);
  }();
  return parent;
}

// A list of this process, destroyed with the object.
class LocalList {
 public:
  explicit LocalList(DWORD style = kReportStyle)
      : list_(::CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 480, 360, SharedParent(),
                                nullptr, ::GetModuleHandleA(nullptr), nullptr)) {}
  LocalList(const LocalList&) = delete;
  LocalList& operator=(const LocalList&) = delete;
  ~LocalList() { ::DestroyWindow(list_); }

  HWND list() const { return list_; }
  HWND parent() const { return SharedParent(); }

 private:
  HWND list_ = nullptr;
};

// list_host.exe, started beside this test program and ended by its handle.
class ListHost {
 public:
  ListHost() {
    static int counter = 0;
    title_ = "qv list host " + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
    host_.emplace("\"" + ProgramDirectory() + "list_host.exe\" " + title_);
    if (!host_->started()) return;
    PumpUntil([this] { return (window_ = ::FindWindowA(kHostClass, title_.c_str())) != nullptr; },
              20000);
  }
  ListHost(const ListHost&) = delete;
  ListHost& operator=(const ListHost&) = delete;
  ~ListHost() { End(); }

  bool Ready() const { return window_ != nullptr; }
  HANDLE process() const { return host_ ? host_->handle() : nullptr; }

  // A fresh list in the host, replacing the one before.
  HWND NewList(DWORD style = kReportStyle) const {
    return reinterpret_cast<HWND>(::SendMessageA(window_, kHostNewList, style, 0));
  }

  // Asks the host to close and waits for it; ends it by its handle if it
  // does not go within the limit.
  void End() {
    if (host_ && !host_->End()) ADD_FAILURE() << "list host did not close within 10 s; terminated it";
    host_.reset();
    window_ = nullptr;
  }

 private:
  std::string title_;
  std::optional<LaunchedProgram> host_;
  HWND window_ = nullptr;
};

// Records what reaches a list of this process, and can refuse inserts.
struct RecordedMessage {
  UINT message;
  WPARAM wParam;
  UINT mask = 0;
  int item = 0;
  int subItem = 0;
  int image = 0;
  UINT state = 0;
  UINT stateMask = 0;
  std::string text;
};

class MessageRecorder {
 public:
  explicit MessageRecorder(HWND list) : list_(list) {
    ::SetPropA(list_, kProperty, this);
    original_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MessageRecorder::Procedure)));
  }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;
  ~MessageRecorder() {
    ::SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    ::RemovePropA(list_, kProperty);
  }

  // Item texts whose LVM_INSERTITEMW the "control" answers with -1.
  std::vector<std::string> refused;
  std::vector<RecordedMessage> messages;

  // Only the messages of interest: redraw switches and item writes.
  std::vector<RecordedMessage> Of(std::initializer_list<UINT> kinds) const {
    std::vector<RecordedMessage> chosen;
    for (const RecordedMessage& m : messages)
      for (const UINT kind : kinds)
        if (m.message == kind) chosen.push_back(m);
    return chosen;
  }

 private:
  static constexpr char kProperty[] = "QvMessageRecorder";

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<MessageRecorder*>(::GetPropA(window, kProperty));
    if (message == WM_SETREDRAW || (message >= LVM_FIRST && message < LVM_FIRST + 0x100)) {
      RecordedMessage recorded{message, wParam};
      if (message == LVM_INSERTITEMW || message == LVM_SETITEMW || message == LVM_SETITEMSTATE) {
        const auto* item = reinterpret_cast<const LvItem*>(lParam);
        recorded.mask = item->mask;
        recorded.item = item->iItem;
        recorded.subItem = item->iSubItem;
        recorded.image = item->iImage;
        recorded.state = item->state;
        recorded.stateMask = item->stateMask;
        if ((item->mask & LVIF_TEXT) && item->pszText) recorded.text = GbkFromWide(item->pszText);
      } else if (message == LVM_SETBKIMAGEW) {
        const auto* image = reinterpret_cast<const LvBkImage*>(lParam);
        recorded.mask = image->ulFlags;
        recorded.image = image->xOffsetPercent;
        if (image->pszImage) recorded.text = GbkFromWide(image->pszImage);
      }
      self->messages.push_back(recorded);
      if (message == LVM_INSERTITEMW)
        for (const std::string& text : self->refused)
          if (text == recorded.text) return -1;
    }
    return ::CallWindowProcA(self->original_, window, message, wParam, lParam);
  }

  HWND list_;
  WNDPROC original_ = nullptr;
};

// Counts what the wrapper takes in the other process, and can refuse to
// open it or to allocate after a number of blocks.
class CountingMemory : public ProcessMemoryHelper {
 public:
  using ProcessMemoryHelper::ProcessMemoryHelper;

  bool refuseOpen = false;
  int allocationsLeft = -1;  // -1: no limit
  int opens = 0, closes = 0, allocations = 0, frees = 0, failedFrees = 0;

  HANDLE OpenWindowProcess(HWND window) override {
    if (refuseOpen) return nullptr;
    HANDLE process = ProcessMemoryHelper::OpenWindowProcess(window);
    if (process) ++opens;
    return process;
  }
  void CloseProcess(HANDLE process) override {
    if (process) ++closes;
    ProcessMemoryHelper::CloseProcess(process);
  }
  RemoteAddress AllocateMemory(HANDLE process, std::size_t count) override {
    if (allocationsLeft == 0) return 0;
    if (allocationsLeft > 0) --allocationsLeft;
    const RemoteAddress address = ProcessMemoryHelper::AllocateMemory(process, count);
    if (address) ++allocations;
    return address;
  }
  bool FreeMemory(HANDLE process, RemoteAddress address) override {
    const bool freed = ProcessMemoryHelper::FreeMemory(process, address);
    ++(freed ? frees : failedFrees);
    return freed;
  }
};

// Where the list under test lives and how the wrapper reaches it.
enum class Mode {
  kSameProcess,         // this process, structures passed directly
  kCrossVirtual,        // this process, through VirtualAllocEx blocks
  kCrossSection,        // this process, through paging-file sections
  kOtherProcess,        // list_host.exe, through VirtualAllocEx blocks
};

inline std::string ModeName(const ::testing::TestParamInfo<Mode>& info) {
  switch (info.param) {
    case Mode::kSameProcess:
      return "SameProcess";
    case Mode::kCrossVirtual:
      return "CrossVirtual";
    case Mode::kCrossSection:
      return "CrossSection";
    default:
      return "OtherProcess";
  }
}

// One list per test in the chosen mode, and a wrapper attached to it. The
// host process is shared by the tests of a suite.
class ListTest : public ::testing::TestWithParam<Mode> {
 public:
  static void SetUpTestSuite() {}
  static void TearDownTestSuite() { Host().reset(); }

 protected:
  void SetUp() override { Open(kReportStyle); }

  // Replaces the list with a new one of the given style.
  void Open(DWORD style) {
    wrapper_.reset();
    local_.reset();
    if (GetParam() == Mode::kOtherProcess) {
      if (!Host()) Host() = std::make_unique<ListHost>();
      ASSERT_TRUE(Host()->Ready()) << "list_host.exe did not show its window";
      list_ = Host()->NewList(style);
    } else {
      local_ = std::make_unique<LocalList>(style);
      list_ = local_->list();
    }
    ASSERT_TRUE(list_);
    const int kind = GetParam() == Mode::kCrossSection ? kPlatformWindows : kPlatformNt;
    wrapper_ = std::make_unique<ListViewWrapper>(std::make_unique<ProcessMemoryHelper>(kind));
    ASSERT_TRUE(wrapper_->Attach(list_, GetParam() != Mode::kSameProcess));
  }

  static std::unique_ptr<ListHost>& Host() {
    static std::unique_ptr<ListHost> host;
    return host;
  }

  HWND list_ = nullptr;
  std::unique_ptr<LocalList> local_;
  std::unique_ptr<ListViewWrapper> wrapper_;
};

inline const auto kAllModes =
    ::testing::Values(Mode::kSameProcess, Mode::kCrossVirtual, Mode::kCrossSection, Mode::kOtherProcess);

}  // namespace qv::test
