#include "ui/layout.h"

#include <commctrl.h>

#include "ui/gdi_owner.h"

namespace qv {
namespace {

// The name of a component as text, spelled once with its identifier.
#define QV_COMPONENT(name) Component::name, #name

constexpr DWORD kButton = BS_PUSHBUTTON | BS_CENTER | BS_VCENTER;
constexpr DWORD kEdit = ES_LEFT | ES_AUTOHSCROLL;
// The window's own children overlap (the list the group box's lower edge, the
// progress bar the status bar), so each paints only its visible part.
constexpr DWORD kOverlapping = WS_CLIPSIBLINGS;

}  // namespace

// Creation order; stacking is the reverse (the progress bar, created last,
// lies above the status bar). The status bar docks itself to the bottom edge,
// so its rectangle here is not used.
constexpr std::array<ComponentDescriptor, kComponentCount> kLayout{{
    // name                        kind                  parent          x    y    w    h    text          style                                  exStyle           tab    spin
    {QV_COMPONENT(分组框1),        Kind::GroupBox,       Parent::Window, 3,   -1,  573, 105, "",           BS_GROUPBOX | WS_CLIPCHILDREN | kOverlapping, 0,            false, false},
    {QV_COMPONENT(超级列表框1),    Kind::ReportList,     Parent::Window, 1,   103, 576, 465, "",           LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS | kOverlapping, WS_EX_CLIENTEDGE, true, false},
    {QV_COMPONENT(IP编辑框_开始),  Kind::AddressField,   Parent::Group,  120, 26,  179, 20,  "",           0,                                     WS_EX_CLIENTEDGE, true,  false},
    {QV_COMPONENT(按钮_开始扫描),  Kind::PushButton,     Parent::Group,  279, 59,  60,  32,  "开始",       kButton,                               0,                true,  false},
    {QV_COMPONENT(标签1),          Kind::Label,          Parent::Group,  37,  25,  54,  24,  "IP地址从：", 0,                                     0,                false, false},
    {QV_COMPONENT(标签2),          Kind::Label,          Parent::Group,  321, 24,  24,  24,  "-",          0,                                     0,                false, false},
    {QV_COMPONENT(编辑框_线程数),  Kind::EditField,      Parent::Group,  101, 65,  26,  20,  "100",        kEdit,                                 WS_EX_CLIENTEDGE, true,  true},
    {QV_COMPONENT(状态条1),        Kind::StatusBar,      Parent::Window, 0,   0,   0,   0,   "",           CCS_BOTTOM | kOverlapping,             0,                false, false},
    {QV_COMPONENT(IP编辑框_结束),  Kind::AddressField,   Parent::Group,  356, 25,  185, 20,  "",           0,                                     WS_EX_CLIENTEDGE, true,  false},
    {QV_COMPONENT(标签),           Kind::Label,          Parent::Group,  41,  62,  45,  24,  "线程数：",   0,                                     0,                false, false},
    {QV_COMPONENT(按钮2),          Kind::PushButton,     Parent::Group,  375, 59,  60,  32,  "停止",       kButton,                               0,                true,  false},
    {QV_COMPONENT(编辑框_延时),    Kind::EditField,      Parent::Group,  223, 65,  35,  20,  "100",        kEdit,                                 WS_EX_CLIENTEDGE, true,  false},
    {QV_COMPONENT(标签3),          Kind::Label,          Parent::Group,  176, 62,  32,  24,  "超时：",     0,                                     0,                false, false},
    {QV_COMPONENT(按钮_导出),      Kind::PushButton,     Parent::Group,  478, 59,  60,  32,  "导出",       kButton,                               0,                true,  false},
    {QV_COMPONENT(通用对话框1),    Kind::SaveFileDialog, Parent::Window, 0,   0,   0,   0,   "",           0,                                     0,                false, false},
    {QV_COMPONENT(进度条1),        Kind::ProgressBar,    Parent::Window, 392, 568, 184, 20,  "",           PBS_SMOOTH | kOverlapping,             WS_EX_STATICEDGE, false, false},
}};

#undef QV_COMPONENT

namespace {
constexpr bool IndexedByComponent() {
  for (std::size_t i = 0; i < kLayout.size(); ++i)
    if (IndexOf(kLayout[i].id) != i) return false;
  return true;
}
static_assert(IndexedByComponent(), "the layout table must list the components in creation order");
}  // namespace

const std::array<ListColumn, 4> kListColumns{{
    {"IP地址", 150},
    {"主机名称", 150},
    {"MAC地址", 150},
    {"耗时(毫秒)", 100},
}};

int SystemDpi() {
  const WindowDcScope screen(nullptr);
  const int dpi = screen.dc() ? GetDeviceCaps(screen.dc(), LOGPIXELSX) : 0;
  return dpi > 0 ? dpi : kDesignDpi;
}

// A save dialog does not apply OFN_FILEMUSTEXIST; it is kept here as stored
// and dropped when the dialog opens, so the operator can name a new file.
const SaveDialogSettings kSaveDialogSettings{
    "局域网扫描记录",
    "文本文件（*.txt)|*.txt|日志文件（*.log)|*.log",
    "txt",
    OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_FILEMUSTEXIST,
};

}  // namespace qv
