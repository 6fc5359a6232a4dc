#include "tray/icon_size_win32.h"

#include <windows.h>

#include "common/win32_handles.h"
#include "tray/icon_raster.h"

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);

template <typename Function>
Function User32Function(const char* name) {
  const HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                           : nullptr;
}

UINT ScreenDpi() {
  const unique_screen_dc screen(GetDC(nullptr));
  return screen ? static_cast<UINT>(GetDeviceCaps(screen.get(), LOGPIXELSX)) : 0;
}

}  // namespace

int NotificationIconSize() {
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
  static const auto getSystemMetricsForDpi = User32Function<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
  int size = 0;
  if (getSystemMetricsForDpi != nullptr) {
    const HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    UINT dpi = taskbar != nullptr && getDpiForWindow != nullptr ? getDpiForWindow(taskbar) : 0;
    if (dpi == 0) dpi = ScreenDpi();
    if (dpi != 0) size = getSystemMetricsForDpi(SM_CXSMICON, dpi);
  }
  if (size <= 0) size = GetSystemMetrics(SM_CXSMICON);
  return ClampIconSize(size);
}
