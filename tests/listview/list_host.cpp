// A second process for the cross-process tests: one top-level window, titled
// by the command line so the test can find it, holding one report list.
// WM_APP + 1 (wParam: list style) replaces the list with a new one and
// answers its handle; WM_CLOSE ends the program.
#include <windows.h>

#include <commctrl.h>

namespace {

constexpr UINT kNewList = WM_APP + 1;
HWND list = nullptr;

LRESULT CALLBACK HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kNewList:
      if (list) ::DestroyWindow(list);
      list = ::CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | static_cast<DWORD>(wParam), 0, 0, 480,
                               360, window, nullptr, ::GetModuleHandleA(nullptr), nullptr);
      return reinterpret_cast<LRESULT>(list);
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR title, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = HostProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "QvListHost";
  if (!::RegisterClassA(&windowClass)) return 1;
  if (!::CreateWindowExA(0, "QvListHost", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 0, 500, 400, nullptr, nullptr,
                         instance, nullptr))
    return 1;
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return 0;
}
