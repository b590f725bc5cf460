#include "support/program_driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "listview/list_view_wrapper.h"
#include "listview/process_memory_helper.h"
#include "support/save_dialog_answerer.h"
#include "support/window_driver.h"
#include "ui/main_window.h"

namespace qv::test {
namespace {

constexpr const char* kReady = "准备就绪";
constexpr const char* kNoWorkers = "线程： 0";

bool SameClass(HWND window, const char* className) {
  return className && lstrcmpiA(ClassOf(window).c_str(), className) == 0;
}

// The window's top-left corner in its parent's client coordinates.
POINT PositionInParent(HWND window) {
  RECT box{};
  GetWindowRect(window, &box);
  POINT corner{box.left, box.top};
  ScreenToClient(GetParent(window), &corner);
  return corner;
}

// The child of parent with the component's class at the component's place;
// the status bar docks itself, so only its class counts.
HWND FindChild(HWND parent, const ComponentDescriptor& component) {
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!SameClass(child, WindowClassOf(component.kind))) continue;
    if (component.kind == Kind::StatusBar) return child;
    const POINT at = PositionInParent(child);
    if (at.x == component.x && at.y == component.y) return child;
  }
  return nullptr;
}

struct WindowSearch {
  DWORD pid;
  std::string_view caption;
  HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search.pid || !IsWindowVisible(window) || WindowText(window) != search.caption) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

// ---- ProgramDriver ----

HWND FindTopLevelWindow(DWORD pid, std::string_view caption) {
  WindowSearch search{pid, caption, nullptr};
  EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::optional<ProgramDriver> ProgramDriver::Attach(DWORD pid, DWORD limitMs) {
  std::optional<ProgramDriver> driver;
  // The window is shown after every component exists and the address fields
  // are filled, so a visible window is a complete one.
  WaitUntil(
      [&] {
        HWND window = FindTopLevelWindow(pid, kWindowCaption);
        if (!window) return false;
        ProgramDriver candidate(pid, window);
        if (!candidate.FindControls()) return false;
        driver = candidate;
        return true;
      },
      limitMs);
  return driver;
}

bool ProgramDriver::FindControls() {
  HWND group = FindChild(window_, Describe(Component::分组框1));
  if (!group) return false;
  for (const ComponentDescriptor& component : kLayout) {
    if (component.kind == Kind::SaveFileDialog) continue;
    HWND control = FindChild(component.parent == Parent::Group ? group : window_, component);
    if (!control) return false;
    controls_[IndexOf(component.id)] = control;
  }
  return true;
}

HWND ProgramDriver::Control(Component component) const {
  return component == Component::Window ? window_ : controls_[IndexOf(component)];
}

std::string ProgramDriver::ReadText(Component edit) const { return TextOfAnyWindow(Control(edit)); }

bool ProgramDriver::WriteText(Component edit, std::string_view text) const {
  const std::wstring wide = WideFromGbk(text);
  return SendWithLimit(Control(edit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str())) != 0;
}

std::string ProgramDriver::ReadAddress(Component field) const {
  ProcessMemoryHelper memory;
  const RemoteProcess process(memory, window_);
  if (!process) return "";
  const RemoteBlock block(process, sizeof(DWORD));
  if (!block) return "";
  if (SendWithLimit(Control(field), IPM_GETADDRESS, 0, static_cast<LPARAM>(block.address())) == 0) return "";
  const std::vector<std::uint8_t> bytes = block.Read(sizeof(DWORD));
  DWORD address = 0;
  std::memcpy(&address, bytes.data(), sizeof address);
  char text[20];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(FIRST_IPADDRESS(address)),
                static_cast<int>(SECOND_IPADDRESS(address)), static_cast<int>(THIRD_IPADDRESS(address)),
                static_cast<int>(FOURTH_IPADDRESS(address)));
  return text;
}

bool ProgramDriver::WriteAddress(Component field, std::string_view text) const {
  int f[4] = {};
  char rest = 0;
  const std::string terminated(text);
  if (std::sscanf(terminated.c_str(), "%d.%d.%d.%d%c", &f[0], &f[1], &f[2], &f[3], &rest) != 4) return false;
  for (int value : f)
    if (value < 0 || value > 255) return false;
  SendWithLimit(Control(field), IPM_SETADDRESS, 0, static_cast<LPARAM>(MAKEIPADDRESS(f[0], f[1], f[2], f[3])));
  return ReadAddress(field) == terminated;
}

bool ProgramDriver::Click(Component button) const {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(Control(button), BM_CLICK, 0, 0, SMTO_NORMAL, TimeLimit(kSendLimitMs), &result) != 0;
}

bool ProgramDriver::PostClick(Component button) const { return PostMessageA(Control(button), BM_CLICK, 0, 0) != 0; }

std::string ProgramDriver::StatusPart(int part) const {
  HWND bar = Control(Component::状态条1);
  const std::size_t capacity =
      sizeof(wchar_t) * (LOWORD(SendWithLimit(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part))) + 1u);
  ProcessMemoryHelper memory;
  const RemoteProcess process(memory, window_);
  if (!process) return "";
  const RemoteBlock block(process, capacity);
  if (!block || !block.Write(std::string(capacity, '\0').data(), capacity)) return "";
  SendWithLimit(bar, SB_GETTEXTW, static_cast<WPARAM>(part), static_cast<LPARAM>(block.address()));
  const std::vector<std::uint8_t> bytes = block.Read(capacity);
  std::wstring text(capacity / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), bytes.data(), std::min(bytes.size(), text.size() * sizeof(wchar_t)));
  return GbkFromWide(text.c_str());
}

std::vector<ListRow> ProgramDriver::ReadRows() const {
  ListViewWrapper list;
  std::vector<ListRow> rows;
  if (list.Attach(Control(Component::超级列表框1), true)) list.ReadAllRows(rows);
  return rows;
}

bool ProgramDriver::IsIdle() const { return StatusPart(0) == kReady && StatusPart(1) == kNoWorkers; }

bool ProgramDriver::WaitForScanEnd(DWORD holdMs, DWORD limitMs, double* idleSinceMs) const {
  // Every look is two messages the UI thread must answer while it serves the
  // scan's workers: look no more often than needed.
  constexpr DWORD kLookEveryMs = 10;
  const double start = NowMs();
  bool idle = false;
  double since = 0;
  const DWORD limit = TimeLimit(limitMs);
  for (double now = start; now - start <= limit; now = NowMs()) {
    if (!IsIdle()) {
      idle = false;
    } else {
      if (!idle) since = now;
      idle = true;
      if (now - since >= holdMs) {
        if (idleSinceMs) *idleSinceMs = since;
        return true;
      }
    }
    Sleep(kLookEveryMs);
  }
  return false;
}

HWND ProgramDriver::FindDialog() const { return Dialogs().FirstVisible(); }

std::string ProgramDriver::OpenMessageText() const {
  HWND box = FindDialog();
  return box ? TextOfAnyWindow(GetDlgItem(box, kMessageBoxTextId)) : std::string();
}

std::optional<SeenMessageBox> ProgramDriver::AnswerOpenMessage(DWORD limitMs) const {
  HWND box = FindDialog();
  if (!box || !IsMessageBox(box)) return std::nullopt;
  return Answer(box, limitMs);
}

SeenMessageBox ProgramDriver::Answer(HWND box, DWORD limitMs) const {
  const SeenMessageBox seen = ReadMessageBox(box);
  AnswerMessageBox(box, IDOK, limitMs);
  return seen;
}

HWND ProgramDriver::WaitForMessageBox(DWORD limitMs) const {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        box = FindDialog();
        return box && IsMessageBox(box);
      },
      limitMs);
  return box;
}

ExportOutcome ProgramDriver::Export(const std::string& path, DWORD limitMs) const {
  ExportOutcome outcome;
  if (!PostClick(Component::按钮_导出)) return outcome;
  const std::optional<SaveDialogAnswerer> dialog = SaveDialogAnswerer::WaitFor(Dialogs(), limitMs);
  if (!dialog) return outcome;
  outcome.initialName = dialog->Name();
  dialog->TypeName(WideFromGbk(path));
  if (dialog->Name() != path) return outcome;
  dialog->PressSave();
  outcome.dialogAnswered = dialog->WaitUntilClosed(limitMs);
  if (!outcome.dialogAnswered) return outcome;

  HWND box = WaitForMessageBox(limitMs);
  if (!box) return outcome;
  outcome.messageSeen = true;
  const SeenMessageBox message = Answer(box, limitMs);
  outcome.messageText = message.text;
  outcome.messageCaption = message.caption;
  return outcome;
}

void ProgramDriver::Close() const { PostMessageA(window_, WM_CLOSE, 0, 0); }

}  // namespace qv::test
