#include "ui/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/gbk_wide.h"
#include "ui/address_field_text.h"
#include "ui/app_messages.h"
#include "ui/label.h"
#include "ui/resource_ids.h"
#include "ui/run_on_ui_thread.h"
#include "ui/window_text.h"

namespace qv {
namespace {

constexpr wchar_t kWindowClassName[] = L"QuorvaneMainWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_APPWINDOW;
constexpr int kFirstControlId = 100;
constexpr DWORD kListExStyle = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_INFOTIP | LVS_EX_SUBITEMIMAGES;
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }
HFONT GuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

bool RegisterWindowClass(WNDPROC procedure) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(Instance(), kWindowClassName, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = Instance();
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClassName;
  return RegisterClassExW(&wc) != 0;
}

UniqueIcon LoadSmallIcon(int id, int size) {
  return UniqueIcon(static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0)));
}

}  // namespace

const char* WindowClassOf(Kind kind) {
  switch (kind) {
    case Kind::GroupBox:
    case Kind::PushButton: return WC_BUTTONA;
    case Kind::ReportList: return WC_LISTVIEWA;
    case Kind::AddressField: return WC_IPADDRESSA;
    case Kind::Label: return kLabelClassName;
    case Kind::EditField: return WC_EDITA;
    case Kind::StatusBar: return STATUSCLASSNAMEA;
    case Kind::ProgressBar: return PROGRESS_CLASSA;
    case Kind::SaveFileDialog: break;
  }
  return nullptr;
}

MainWindow::MainWindow(EventBindings bindings)
    : bindings_(std::move(bindings)), saveDialog_(kSaveDialogSettings) {}

MainWindow::~MainWindow() {
  if (window_) DestroyWindow(window_);
}

bool MainWindow::Create() {
  if (window_) return false;
  uiThread_ = GetCurrentThreadId();
  const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                           ICC_UPDOWN_CLASS | ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&controls);
  if (!RegisterWindowClass(&MainWindow::WindowProc) || !RegisterLabelClass(Instance())) return false;

  dpi_ = SystemDpi();
  // Centred on the whole screen by integer division; the caption and frame
  // are part of the fixed outer size.
  const int width = Scaled(kWindowWidth), height = Scaled(kWindowHeight);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  if (!CreateWindowExW(kWindowExStyle, kWindowClassName, WideFromGbk(kWindowCaption).c_str(), kWindowStyle, left,
                       top, width, height, nullptr, nullptr, Instance(), this))
    return false;

  icon_ = LoadSmallIcon(QV_IDI_PROGRAM, Scaled(kImageSize));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.get()));
  if (!CreateComponents()) {
    DestroyWindow(window_);
    return false;
  }
  pace_.Attach(window_, Handle(Component::超级列表框1), Handle(Component::状态条1), Handle(Component::进度条1));
  ApplyStacking();
  for (HWND component : components_)
    if (component) ShowWindow(component, SW_SHOWNA);

  Raise(Component::Window, Event::Created);
  if (!window_) return false;  // the handler closed it
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  return true;
}

bool MainWindow::CreateComponents() {
  for (const ComponentDescriptor& component : kLayout) {
    if (component.kind == Kind::SaveFileDialog) continue;
    HWND created = CreateComponent(component);
    if (!created) return false;
    components_[IndexOf(component.id)] = created;
    SendMessageW(created, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);

    switch (component.kind) {
      case Kind::GroupBox:
        // Its children's notifications arrive here and belong to the window.
        Subclass(component.id);
        break;
      case Kind::ReportList:
        if (!SetUpReportList()) return false;
        break;
      case Kind::AddressField:
        // The control keeps a font of its own for its four inner fields.
        for (HWND field = GetWindow(created, GW_CHILD); field; field = GetWindow(field, GW_HWNDNEXT))
          SendMessageW(field, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
        break;
      case Kind::EditField:
        SendMessageW(created, EM_SETSEL, 0, 0);
        if (component.spinArrows && !SetUpSpinArrows(component)) return false;
        break;
      case Kind::StatusBar:
        SetUpStatusBar();
        Subclass(component.id);  // for the repaint pace
        break;
      case Kind::ProgressBar:
        SetUpProgressBar();
        Subclass(component.id);  // for the repaint pace
        break;
      case Kind::Label:
        if (component.id == Component::标签) Subclass(component.id);
        break;
      default: break;
    }
  }
  return true;
}

HWND MainWindow::CreateComponent(const ComponentDescriptor& component) {
  HWND parent = component.parent == Parent::Group ? components_[IndexOf(Component::分组框1)] : window_;
  const DWORD style = WS_CHILD | component.style | (component.tabStop ? WS_TABSTOP : 0);
  const RECT box = ScaledRect(component);
  return CreateWindowExW(component.exStyle, WideFromGbk(WindowClassOf(component.kind)).c_str(),
                         WideFromGbk(component.text ? component.text : "").c_str(), style, box.left, box.top,
                         box.right - box.left, box.bottom - box.top, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + IndexOf(component.id))),
                         Instance(), nullptr);
}

// Edges are scaled rather than sizes, so components that meet in the design
// (the list and the progress bar) still meet, and none overlaps its
// neighbour by a rounded pixel.
RECT MainWindow::ScaledRect(const ComponentDescriptor& component) const {
  return {Scaled(component.x), Scaled(component.y), Scaled(component.x + component.width),
          Scaled(component.y + component.height)};
}

bool MainWindow::SetUpReportList() {
  HWND list = Handle(Component::超级列表框1);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, kListExStyle, kListExStyle);
  SendMessageW(list, LVM_SETTEXTCOLOR, 0, kBlack);
  SendMessageW(list, LVM_SETTEXTBKCOLOR, 0, kWhite);
  SendMessageW(list, LVM_SETBKCOLOR, 0, kWhite);
  for (std::size_t i = 0; i < kListColumns.size(); ++i) {
    std::wstring title = WideFromGbk(kListColumns[i].title);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = Scaled(kListColumns[i].width);
    column.pszText = title.data();
    column.iSubItem = static_cast<int>(i);
    if (SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column)) != static_cast<LRESULT>(i))
      return false;
  }
  // The list shares the image list (LVS_SHAREIMAGELISTS), so this object
  // stays its only owner and frees it after the list is gone.
  const int imageSize = Scaled(kImageSize);
  listImages_.reset(ImageList_Create(imageSize, imageSize, ILC_COLOR32 | ILC_MASK, 2, 0));
  if (!listImages_) return false;
  for (int id : {QV_IDI_MONITOR, QV_IDI_COMPUTER}) {
    const UniqueIcon image = LoadSmallIcon(id, imageSize);
    if (!image || ImageList_AddIcon(listImages_.get(), image.get()) < 0) return false;
  }
  // The images stand on white in every row, whatever a selected row shows
  // around them (Wine's list fills behind them with its own background, but
  // a list that draws with the image list's colour must find white there).
  ImageList_SetBkColor(listImages_.get(), kWhite);
  SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(listImages_.get()));
  Subclass(Component::超级列表框1);  // for the repaint pace
  return true;
}

void MainWindow::SetUpStatusBar() {
  HWND bar = Handle(Component::状态条1);
  std::array<int, kStatusPartEdges.size()> edges{};
  std::transform(kStatusPartEdges.begin(), kStatusPartEdges.end(), edges.begin(),
                 [this](int edge) { return Scaled(edge); });
  SendMessageW(bar, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  SendMessageW(bar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(WideFromGbk(kStatusInitialText).c_str()));
  // Docks itself to the parent's bottom edge at its standard height.
  SendMessageW(bar, WM_SIZE, 0, 0);
}

void MainWindow::SetUpProgressBar() {
  HWND bar = Handle(Component::进度条1);
  SendMessageW(bar, PBM_SETRANGE32, kProgressMin, kProgressMax);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
}

bool MainWindow::SetUpSpinArrows(const ComponentDescriptor& edit) {
  // No buddy and no arithmetic of its own: every press is only reported.
  const RECT field = ScaledRect(edit);
  spin_ = CreateWindowExW(WS_EX_STATICEDGE, UPDOWN_CLASSW, L"", WS_CHILD, field.right, field.top, Scaled(kSpinWidth),
                          field.bottom - field.top, components_[IndexOf(Component::分组框1)], nullptr, Instance(),
                          nullptr);
  if (!spin_) return false;
  SendMessageW(spin_, UDM_SETRANGE32, 0, 100);
  SendMessageW(spin_, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
  // The arrows move, resize, show, hide and enable with their field.
  Subclass(edit.id);
  return true;
}

void MainWindow::ApplyStacking() {
  // Among siblings, the component created later lies above.
  for (Parent parent : {Parent::Window, Parent::Group}) {
    HWND above = HWND_TOP;
    for (auto it = kLayout.rbegin(); it != kLayout.rend(); ++it) {
      HWND component = Handle(it->id);
      if (it->parent != parent || !component) continue;
      if (it->spinArrows) {
        SetWindowPos(spin_, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        above = spin_;
      }
      SetWindowPos(component, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      above = component;
    }
  }
}

HWND MainWindow::Handle(Component component) const {
  if (component == Component::Window) return window_;
  return components_[IndexOf(component)];
}

Component MainWindow::ComponentOf(HWND window) const {
  const auto found = std::find(components_.begin(), components_.end(), window);
  if (!window || found == components_.end()) return Component::Window;
  return static_cast<Component>(found - components_.begin());
}

bool MainWindow::IsUiThread() const { return GetCurrentThreadId() == uiThread_; }

std::int32_t MainWindow::Raise(Component source, Event event, EventArgs args) {
  for (const EventBinding& binding : bindings_)
    if (binding.source == source && binding.event == event) return binding.handler(*this, args);
  return 0;
}

// ---- window procedures ----

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    DropPostedUiCalls(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    self->components_ = {};
    self->spin_ = nullptr;
    self->lastFocus_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case RunOnUiThreadRequest: return RunUiCall(lParam);
    case PostedUiCallRequest: RunPostedUiCall(lParam); return 0;
    case WM_COMMAND:
      if (lParam) OnCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_CTLCOLOREDIT: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kBlack);
      SetBkColor(dc, kWhite);
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    case WM_ACTIVATE: OnActivate(wParam); return 0;
    case WM_SETFOCUS:
      // The window itself never keeps the focus; a component takes it.
      RestoreFocus();
      return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(GuiFont());
    case WM_TIMER:
      if (wParam == RepaintPace::kTimerId) pace_.OnTimer();
      return 0;
    case WM_SIZE:
      if (HWND bar = Handle(Component::状态条1)) SendMessageW(bar, WM_SIZE, wParam, lParam);
      return 0;
    case WM_DESTROY:
      Raise(Component::Window, Event::Destroying);
      PostQuitMessage(0);
      return 0;
    default: return DefWindowProcW(window_, message, wParam, lParam);
  }
}

void MainWindow::OnCommand(HWND control, UINT code) {
  const Component component = ComponentOf(control);
  if (IsKind(component, Kind::PushButton) && code == BN_CLICKED) Raise(component, Event::Clicked);
  if (IsKind(component, Kind::EditField) && code == EN_CHANGE && suppressedChangeNotices_ == 0)
    Raise(component, Event::ContentChanged);
}

LRESULT MainWindow::OnNotify(const NMHDR& header) {
  if (header.hwndFrom == spin_ && spin_ && header.code == UDN_DELTAPOS) {
    const auto& press = reinterpret_cast<const NMUPDOWN&>(header);
    Raise(Component::编辑框_线程数, Event::SpinPressed, {press.iDelta < 0 ? -1 : 1});
    return 0;  // the control may step; its position has no meaning
  }
  if (header.hwndFrom == Handle(Component::超级列表框1) && header.code == LVN_COLUMNCLICK) {
    const auto& click = reinterpret_cast<const NMLISTVIEW&>(header);
    Raise(Component::超级列表框1, Event::HeaderClicked, {click.iSubItem});
  }
  return 0;
}

// ---- component operations ----

std::string MainWindow::Caption() const { return WindowText(window_); }

std::string MainWindow::ReadContent(Component edit) const {
  if (!IsKind(edit, Kind::EditField)) return "";
  return WindowText(Handle(edit));
}

void MainWindow::WriteContent(Component edit, std::string_view text) {
  if (!IsKind(edit, Kind::EditField) || !Handle(edit)) return;
  if (!IsUiThread()) {
    RunOnUiThread(window_, [&] { WriteContent(edit, text); });
    return;
  }
  ++suppressedChangeNotices_;
  SetWindowGbkText(Handle(edit), text);
  --suppressedChangeNotices_;
  Raise(edit, Event::ContentChanged);
}

std::string MainWindow::ReadAddress(Component field) const {
  if (!IsKind(field, Kind::AddressField)) return "";
  HWND control = Handle(field);
  if (!control || SendMessageW(control, IPM_ISBLANK, 0, 0)) return "";
  DWORD address = 0;
  SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(FIRST_IPADDRESS(address)),
                static_cast<int>(SECOND_IPADDRESS(address)), static_cast<int>(THIRD_IPADDRESS(address)),
                static_cast<int>(FOURTH_IPADDRESS(address)));
  return text;
}

void MainWindow::WriteAddress(Component field, std::string_view text) {
  if (!IsKind(field, Kind::AddressField)) return;
  HWND control = Handle(field);
  const auto fields = ParseAddressFields(text);
  if (!fields) {
    SendMessageW(control, IPM_CLEARADDRESS, 0, 0);
    return;
  }
  const auto [a, b, c, d] = *fields;
  SendMessageW(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(MAKEIPADDRESS(a, b, c, d)));
}

void MainWindow::SetProgress(int position) {
  SendMessageW(Handle(Component::进度条1), PBM_SETPOS, std::clamp(position, kProgressMin, kProgressMax), 0);
}

void MainWindow::SetStatusText(int part, std::string_view text) {
  if (part < 0 || part >= static_cast<int>(kStatusPartEdges.size())) return;
  const std::wstring content = WideFromGbk(text);
  SendMessageW(Handle(Component::状态条1), SB_SETTEXTW, static_cast<WPARAM>(part),
               reinterpret_cast<LPARAM>(content.c_str()));
}

int MainWindow::ItemCount() const {
  return static_cast<int>(SendMessageW(Handle(Component::超级列表框1), LVM_GETITEMCOUNT, 0, 0));
}

std::string MainWindow::ItemText(int row, int column) const {
  HWND list = Handle(Component::超级列表框1);
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  if (row < 0 || row >= ItemCount() || column < 0 || column >= columns) return "";
  // The control truncates silently; a text that fills the buffer (less its
  // terminator) may be longer.
  std::vector<wchar_t> buffer(260);
  for (;;) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    buffer[0] = L'\0';
    const auto length = static_cast<std::size_t>(
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (length + 1 < buffer.size()) return GbkFromWide(std::wstring_view(item.pszText, length));
    buffer.resize(buffer.size() * 2);
  }
}

void MainWindow::DeleteAllItems() { SendMessageW(Handle(Component::超级列表框1), LVM_DELETEALLITEMS, 0, 0); }

void MainWindow::DeferRepaint(Component component) {
  if (component == Component::超级列表框1) pace_.HoldList();
  if (component == Component::状态条1 || component == Component::进度条1) pace_.HoldBars();
}

void MainWindow::RepaintDeferred() { pace_.Flush(); }

}  // namespace qv
