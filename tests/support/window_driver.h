#pragma once
// Drives and reads real windows from a test thread: waits with time limits
// that say what they waited for, message boxes answered from a second
// thread, status-bar parts read back.

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/time_limit.h"
#include "ui/window_text.h"

namespace qv::test {

// Polls until the condition holds or the time (stretched by TimeLimit) is up,
// everyMs apart: a condition that asks another process's window, whose UI
// thread must answer every look, wants longer pauses.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD limitMs = 5000, DWORD everyMs = 2) {
  const DWORD start = GetTickCount();
  const DWORD limit = TimeLimit(limitMs);
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > limit) return false;
    Sleep(everyMs);
  }
}

// The same for a thread that owns windows, which must go on handling its
// messages meanwhile; keyboard, when given, sees each message first and
// keeps the ones it handles.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 5000,
                      const std::function<bool(const MSG&)>& keyboard = nullptr) {
  const ULONGLONG deadline = GetTickCount64() + TimeLimit(limitMs);
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;  // a closed window's; not the test's to obey
      if (keyboard && keyboard(message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50)),
                              QS_ALLINPUT);
  }
}


inline std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Same-process read of one status-bar part through the wide messages, as
// GBK.
inline std::string StatusPartText(HWND statusBar, int part) {
  const auto length = LOWORD(SendMessageW(statusBar, SB_GETTEXTLENGTHW, part, 0));
  std::wstring text(length + 1u, L'\0');
  SendMessageW(statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::char_traits<wchar_t>::length(text.c_str()));
  return GbkFromWide(text);
}

// A named callback: a lambda does not convert to the 32-bit build's stdcall
// procedure type.
inline BOOL CALLBACK KeepIconOfStatic(HWND child, LPARAM found) {
  if (ClassOf(child) != "Static" || (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
  *reinterpret_cast<HICON*>(found) = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
  return FALSE;
}

// The icon a message box shows. The icon static's id differs between
// platforms; it is found by its style.
inline HICON IconOfMessageBox(HWND box) {
  HICON icon = nullptr;
  EnumChildWindows(box, &KeepIconOfStatic, reinterpret_cast<LPARAM>(&icon));
  return icon;
}

// A message box seen by MessageBoxWatcher.
struct SeenMessageBox {
  std::string text;
  std::string caption;
  HICON icon = nullptr;  // compare with LoadIconA(nullptr, IDI_EXCLAMATION) and the like
};

// Answers every message box of this process with OK, from its own thread,
// and remembers what each one said.
class MessageBoxWatcher {
 public:
  // kWhenReleased leaves each box open until Release (or the watcher's end),
  // as an operator away from the screen would.
  enum class Answer { kAtOnce, kWhenReleased };
  explicit MessageBoxWatcher(Answer answer = Answer::kAtOnce) : answer_(answer), thread_([this] { Watch(); }) {}
  ~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  void Release() { released_ = true; }

  std::vector<SeenMessageBox> Seen() {
    std::lock_guard<std::mutex> hold(mutex_);
    return seen_;
  }
  bool WaitForCount(std::size_t count, DWORD limitMs = 5000) {
    return WaitUntil([&] { return Seen().size() >= count; }, limitMs);
  }

 private:
  static BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && ClassOf(window) == "#32770" && IsWindowVisible(window)) {
      *reinterpret_cast<HWND*>(found) = window;
      return FALSE;
    }
    return TRUE;
  }

  void Watch() {
    while (!stop_) {
      HWND dialog = nullptr;
      EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&dialog));
      if (dialog) {
        SeenMessageBox box;
        box.caption = WindowText(dialog);
        box.text = WindowText(GetDlgItem(dialog, 0xFFFF));
        box.icon = IconOfMessageBox(dialog);
        {
          std::lock_guard<std::mutex> hold(mutex_);
          seen_.push_back(box);
        }
        while (answer_ == Answer::kWhenReleased && !released_ && !stop_) Sleep(5);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        WaitUntil([&] { return !IsWindow(dialog); }, 2000);
      }
      Sleep(5);
    }
  }

  const Answer answer_;
  std::atomic<bool> released_{false};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<SeenMessageBox> seen_;
  std::thread thread_;
};

}  // namespace qv::test
