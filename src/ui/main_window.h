#pragma once
// The one main window: builds itself from the layout table, raises events to
// the bound handlers on its own thread, and offers the component operations
// that handlers and the scan use.

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ui/events.h"
#include "ui/gdi_owner.h"
#include "ui/layout.h"
#include "ui/repaint_pace.h"
#include "ui/save_file_dialog.h"

namespace qv {

class MainWindow {
 public:
  explicit MainWindow(EventBindings bindings);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow();

  // Builds the window and its components, raises the created event and shows
  // the window. False when the window could not be created.
  bool Create();

  // Keyboard handling of the message loop (Tab, Shift+Tab, Esc, Enter on a
  // button); true when the message was used and must not be dispatched.
  bool TranslateKeyboard(const MSG& message);

  HWND Handle() const noexcept { return window_; }
  // The component's native window; nullptr for the dialog component.
  HWND Handle(Component component) const;

  std::string Caption() const;

  // 编辑框_线程数 and 编辑框_延时. A write raises content changed exactly once,
  // with the platform's own change notice suppressed; from another thread
  // it runs on the window's thread.
  std::string ReadContent(Component edit) const;
  void WriteContent(Component edit, std::string_view text);

  // IP编辑框_开始 and IP编辑框_结束: "" when blank, else "%d.%d.%d.%d".
  std::string ReadAddress(Component field) const;
  // Anything but four numbers 0-255 (see ParseAddressFields) empties the field.
  void WriteAddress(Component field, std::string_view text);

  // Clamped to the bar's range 0-100.
  void SetProgress(int position);
  // Status-bar panes 0-2 (left to right); any other index is ignored.
  void SetStatusText(int part, std::string_view text);

  int ItemCount() const;
  // The whole text of a cell; "" when the cell does not exist.
  std::string ItemText(int row, int column = 0) const;
  void DeleteAllItems();

  // While a scan streams in, the list (超级列表框1) and the bars (状态条1,
  // 进度条1) keep their content current but paint at the repaint pace (see
  // repaint_pace.h). RepaintDeferred paints what waits at once.
  void DeferRepaint(Component component);
  void RepaintDeferred();

  SaveFileDialog& SaveDialog() noexcept { return saveDialog_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  // The group box, 标签 and 编辑框_线程数 pass what belongs to the window on.
  static LRESULT CALLBACK ComponentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  void Subclass(Component component);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  bool CreateComponents();
  HWND CreateComponent(const ComponentDescriptor& component);
  RECT ScaledRect(const ComponentDescriptor& component) const;
  bool SetUpReportList();
  void SetUpStatusBar();
  void SetUpProgressBar();
  bool SetUpSpinArrows(const ComponentDescriptor& edit);
  void ApplyStacking();

  std::int32_t Raise(Component source, Event event, EventArgs args = {});
  void OnCommand(HWND control, UINT code);
  LRESULT OnNotify(const NMHDR& header);
  void OnActivate(WPARAM wParam);
  void RestoreFocus();
  // Each role's messages; nothing where the component's own procedure
  // handles them.
  std::optional<LRESULT> GroupBoxMessage(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
  std::optional<LRESULT> LabelMessage(UINT message, WPARAM wParam, LPARAM lParam);
  std::optional<LRESULT> SpinFieldMessage(HWND field, UINT message, WPARAM wParam, LPARAM lParam, WNDPROC original);
  void FollowField(HWND edit);
  int Scaled(int designValue) const { return ScaledForDpi(designValue, dpi_); }

  Component ComponentOf(HWND window) const;
  void MoveFocus(bool backwards);
  void FocusFirstInCycle();
  bool IsUiThread() const;

  EventBindings bindings_;
  SaveFileDialog saveDialog_;
  UniqueIcon icon_;
  UniqueImageList listImages_;
  HWND window_ = nullptr;
  int dpi_ = kDesignDpi;
  std::array<HWND, kComponentCount> components_{};
  std::array<WNDPROC, kComponentCount> originalProcs_{};
  HWND spin_ = nullptr;
  HWND lastFocus_ = nullptr;
  DWORD uiThread_ = 0;
  int suppressedChangeNotices_ = 0;
  RepaintPace pace_;
};

// The window class a component of this kind is made from; nullptr for the
// dialog component, which has no window.
const char* WindowClassOf(Kind kind);

// Runs the main window's message loop until the window has been destroyed.
int RunMessageLoop(MainWindow& window);

}  // namespace qv
