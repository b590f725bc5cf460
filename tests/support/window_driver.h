#pragma once
// Drives and reads real windows, of this process or another, from a test
// thread: waits with time limits that say what they waited for, texts asked
// of their windows, dialogs found and message boxes answered from a second
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

#include "support/now_ms.h"
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

// A message to a window of another thread or process must not hang the test
// when that thread stops answering: 0 then.
constexpr UINT kSendLimitMs = 10000;

inline LRESULT SendWithLimit(HWND target, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(target, message, wParam, lParam, SMTO_NORMAL, TimeLimit(kSendLimitMs), &result)) return 0;
  return static_cast<LRESULT>(result);
}

// GetWindowText does not ask a window of another process for its text (it
// gives the caption the system keeps, empty for most controls): ask it,
// through the wide message, whatever the system's code page. A window of
// this process answers the same.
inline std::wstring WideTextOfAnyWindow(HWND window) {
  const auto length = static_cast<std::size_t>(SendWithLimit(window, WM_GETTEXTLENGTH));
  std::wstring text(length + 1, L'\0');
  const auto copied =
      static_cast<std::size_t>(SendWithLimit(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
  text.resize(std::min(copied, length));
  return text;
}

inline std::string TextOfAnyWindow(HWND window) { return GbkFromWide(WideTextOfAnyWindow(window)); }

// The dialogs (#32770) among the top-level windows of one thread or of one
// process: save-file dialogs, their questions, message boxes.
class DialogsOf {
 public:
  static DialogsOf Thread(DWORD threadId) { return DialogsOf(threadId, 0); }
  static DialogsOf Process(DWORD processId) { return DialogsOf(0, processId); }
  static DialogsOf ThisProcess() { return Process(GetCurrentProcessId()); }

  // In the order the system lists them.
  std::vector<HWND> Visible() const {
    Search search{processId_, {}};
    if (threadId_)
      EnumThreadWindows(threadId_, &KeepVisible, reinterpret_cast<LPARAM>(&search));
    else
      EnumWindows(&KeepVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  HWND FirstVisible() const {
    const std::vector<HWND> found = Visible();
    return found.empty() ? nullptr : found.front();
  }

 private:
  struct Search {
    DWORD processId;  // 0: the thread's windows, all of one process anyway
    std::vector<HWND> found;
  };

  DialogsOf(DWORD threadId, DWORD processId) : threadId_(threadId), processId_(processId) {}

  // A named callback: a lambda does not convert to the 32-bit build's
  // stdcall procedure type.
  static BOOL CALLBACK KeepVisible(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if ((!search.processId || pid == search.processId) && ClassOf(window) == "#32770" && IsWindowVisible(window))
      search.found.push_back(window);
    return TRUE;
  }

  DWORD threadId_;
  DWORD processId_;
};

// Posted, so that a click which opens a modal window does not hold the
// caller; wait for its effect.
inline void PressButton(HWND dialog, int button) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
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
  *reinterpret_cast<HICON*>(found) = reinterpret_cast<HICON>(SendWithLimit(child, STM_GETICON));
  return FALSE;
}

// The icon a message box shows. The icon static's id differs between
// platforms; it is found by its style.
inline HICON IconOfMessageBox(HWND box) {
  HICON icon = nullptr;
  EnumChildWindows(box, &KeepIconOfStatic, reinterpret_cast<LPARAM>(&icon));
  return icon;
}

constexpr int kMessageBoxTextId = 0xFFFF;

inline bool IsMessageBox(HWND dialog) { return GetDlgItem(dialog, kMessageBoxTextId) != nullptr; }

// A message box, as it was read before it was answered.
struct SeenMessageBox {
  std::string text;
  std::string caption;
  HICON icon = nullptr;   // compare with LoadIconA(nullptr, IDI_EXCLAMATION) and the like
  bool question = false;  // offers Yes and No
};

inline SeenMessageBox ReadMessageBox(HWND box) {
  return {TextOfAnyWindow(GetDlgItem(box, kMessageBoxTextId)), TextOfAnyWindow(box), IconOfMessageBox(box),
          GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr};
}

// Presses one of the box's buttons and waits up to limitMs for it to close,
// so that the next look does not read the same box again.
inline bool AnswerMessageBox(HWND box, int button, DWORD limitMs) {
  PressButton(box, button);
  return WaitUntil([&] { return !IsWindow(box); }, limitMs);
}

// Answers every message box of this process, or of the dialogs given (the
// driven program's), with OK from a thread of its own, looking every
// lookEveryMs, and remembers what each one said and when the first came. A
// box is waited for until it has gone, so none is counted twice.
class MessageBoxWatcher {
 public:
  // kWhenReleased leaves each box open until Release (or the watcher's end),
  // as an operator away from the screen would.
  enum class Answer { kAtOnce, kWhenReleased };
  explicit MessageBoxWatcher(Answer answer = Answer::kAtOnce, DialogsOf dialogs = DialogsOf::ThisProcess(),
                             DWORD lookEveryMs = 5)
      : answer_(answer), dialogs_(dialogs), lookEveryMs_(lookEveryMs), thread_([this] { Watch(); }) {}
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
  // NowMs when the first box was read; 0 before.
  double FirstSeenMs() {
    std::lock_guard<std::mutex> hold(mutex_);
    return firstSeenMs_;
  }
  // Looks as often as the watcher does: a box of another process costs its
  // UI thread an answer at every look.
  bool WaitForCount(std::size_t count, DWORD limitMs = 5000) {
    return WaitUntil([&] { return Seen().size() >= count; }, limitMs, lookEveryMs_);
  }

 private:
  static constexpr DWORD kCloseLimitMs = 10000;

  HWND FirstMessageBox() const {
    for (HWND dialog : dialogs_.Visible())
      if (IsMessageBox(dialog)) return dialog;
    return nullptr;
  }

  void Watch() {
    while (!stop_) {
      if (HWND box = FirstMessageBox()) {
        {
          std::lock_guard<std::mutex> hold(mutex_);
          if (seen_.empty()) firstSeenMs_ = NowMs();
          seen_.push_back(ReadMessageBox(box));
        }
        while (answer_ == Answer::kWhenReleased && !released_ && !stop_) Sleep(5);
        AnswerMessageBox(box, IDOK, kCloseLimitMs);
      }
      Sleep(lookEveryMs_);
    }
  }

  const Answer answer_;
  const DialogsOf dialogs_;
  const DWORD lookEveryMs_;
  std::atomic<bool> released_{false};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<SeenMessageBox> seen_;
  double firstSeenMs_ = 0;
  std::thread thread_;
};

}  // namespace qv::test
