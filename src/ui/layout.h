#pragma once
// The main window's layout: every component, its parent, rectangle, content,
// styles and tab stop in one table, which the window builds itself from.

#include <windows.h>

#include <array>
#include <cstddef>

namespace qv {

// Every size and position below is the design's at 96 DPI. The program is
// system DPI aware (its manifest says so): the window scales each value by
// the system DPI, read once when it is created, and never re-lays itself out.
inline constexpr int kDesignDpi = 96;
inline int ScaledForDpi(int value, int dpi) { return MulDiv(value, dpi, kDesignDpi); }
// The screen's LOGPIXELSX: what Windows fixes for the session (and Wine
// reads from the prefix's registry) when the process starts.
int SystemDpi();

// The sixteen components in creation order (keyboard order follows it), and
// the main window itself as the source of its own events.
enum class Component {
  分组框1,
  超级列表框1,
  IP编辑框_开始,
  按钮_开始扫描,
  标签1,
  标签2,
  编辑框_线程数,
  状态条1,
  IP编辑框_结束,
  标签,
  按钮2,
  编辑框_延时,
  标签3,
  按钮_导出,
  通用对话框1,
  进度条1,
  Window,
};

inline constexpr std::size_t kComponentCount = 16;

constexpr std::size_t IndexOf(Component component) { return static_cast<std::size_t>(component); }

enum class Kind { GroupBox, ReportList, AddressField, PushButton, Label, EditField, StatusBar, ProgressBar, SaveFileDialog };

// Components inside the group box are its real children; their positions are
// relative to its client area.
enum class Parent { Window, Group };

struct ComponentDescriptor {
  Component id;
  const char* name;
  Kind kind;
  Parent parent;
  int x, y, width, height;
  const char* text;
  DWORD style;  // besides WS_CHILD, WS_VISIBLE and WS_TABSTOP
  DWORD exStyle;
  bool tabStop;
  bool spinArrows;  // an up-down control against the right edge
};

// Index i describes the component whose IndexOf is i.
extern const std::array<ComponentDescriptor, kComponentCount> kLayout;

// Not for Component::Window, which has no descriptor.
inline const ComponentDescriptor& Describe(Component component) { return kLayout[IndexOf(component)]; }

inline bool IsKind(Component component, Kind kind) {
  return component != Component::Window && Describe(component).kind == kind;
}

inline constexpr char kWindowCaption[] = "Quorvane V2.2";
inline constexpr int kWindowWidth = 585;
inline constexpr int kWindowHeight = 616;
inline constexpr int kSpinWidth = 18;
inline constexpr int kImageSize = 16;  // the window's icon and the list's images

struct ListColumn {
  const char* title;
  int width;
};
extern const std::array<ListColumn, 4> kListColumns;

// Right edges of the status bar's parts: the running sums of their widths.
inline constexpr std::array<int, 3> kStatusPartEdges{130, 290, 390};
inline constexpr char kStatusInitialText[] = "准备就绪";

inline constexpr int kProgressMin = 0;
inline constexpr int kProgressMax = 100;

struct SaveDialogSettings {
  const char* fileName;
  const char* filter;  // "caption|pattern|caption|pattern"
  const char* defaultExtension;
  DWORD flags;
};
extern const SaveDialogSettings kSaveDialogSettings;

}  // namespace qv
