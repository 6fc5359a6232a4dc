#include "tests/e2e/desktop_win32.h"

#include <cstdlib>

#include "common/win32_handles.h"

std::string WineDesktopName() {
  const char* name = std::getenv("GLEAMO_WINE_DESKTOP");
  return name != nullptr ? name : "";
}

std::string JoinWineDesktop() {
  const std::string name = WineDesktopName();
  if (name.empty()) return "GLEAMO_WINE_DESKTOP is not set: run this under scripts/with-wine-desktop.sh";
  HDESK desktop = OpenDesktopA(name.c_str(), 0, FALSE, GENERIC_ALL);
  if (desktop == nullptr) return "no desktop " + name;
  if (!SetThreadDesktop(desktop)) return "cannot join the desktop " + name;
  if (!WaitFor(15000, [] { return FindWindowA("Shell_TrayWnd", nullptr) != nullptr; })) {
    return "the desktop " + name + " has no taskbar";
  }
  return "";
}

RECT TaskbarRect() {
  RECT rect{};
  HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
  if (taskbar == nullptr || !GetWindowRect(taskbar, &rect)) return RECT{};
  return rect;
}

ScreenShot CaptureScreen(const RECT& rect) {
  ScreenShot shot;
  shot.rect = rect;
  shot.width = rect.right - rect.left;
  shot.height = rect.bottom - rect.top;
  if (shot.width <= 0 || shot.height <= 0) return shot;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;

  const unique_screen_dc screen(GetDC(nullptr));
  const unique_hdc memory(CreateCompatibleDC(screen.get()));
  void* bits = nullptr;
  const unique_hbitmap bitmap(CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || bits == nullptr) return shot;
  {
    const ScopedSelection selected(memory.get(), bitmap.get());
    if (!BitBlt(memory.get(), 0, 0, shot.width, shot.height, screen.get(), rect.left, rect.top, SRCCOPY)) return shot;
  }
  GdiFlush();
  const auto* pixel = static_cast<const std::uint32_t*>(bits);
  shot.pixels.assign(pixel, pixel + static_cast<std::size_t>(shot.width) * shot.height);
  for (std::uint32_t& value : shot.pixels) value &= 0x00FFFFFF;
  return shot;
}

void ClickAt(POINT point, bool rightButton) {
  SetCursorPos(point.x, point.y);
  Sleep(50);
  INPUT presses[2] = {};
  presses[0].type = INPUT_MOUSE;
  presses[0].mi.dwFlags = rightButton ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
  presses[1].type = INPUT_MOUSE;
  presses[1].mi.dwFlags = rightButton ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
  SendInput(2, presses, sizeof(INPUT));
}

void MoveMouseAway() {
  SetCursorPos(0, 0);
}

ShownTooltip HoverForTooltip(POINT point, DWORD milliseconds) {
  MoveMouseAway();  // a tooltip still up from before goes
  Sleep(100);
  // Two moves, so that the icon sees the mouse arrive and rest.
  SetCursorPos(point.x - 2, point.y);
  Sleep(50);
  SetCursorPos(point.x, point.y);
  DWORD shell = 0;
  GetWindowThreadProcessId(FindWindowA("Shell_TrayWnd", nullptr), &shell);
  ShownTooltip tooltip;
  WaitFor(milliseconds, [&] {
    for (HWND window : WindowsOfProcess(shell, "tooltips_class32", nullptr)) {
      // The window's text is the tip it shows, asked of the shell's thread.
      wchar_t text[256] = {};
      DWORD_PTR length = 0;
      if (!SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000,
                               &length) ||
          length == 0) {
        continue;
      }
      for (DWORD_PTR i = 0; i < length; ++i) tooltip.text += static_cast<char>(text[i]);
      GetWindowRect(window, &tooltip.rect);
      return true;
    }
    return false;
  });
  MoveMouseAway();
  return tooltip;
}

namespace {

struct WindowQuery {
  DWORD processId;
  const char* className;
  const char* caption;
  bool hiddenToo;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
  auto* query = reinterpret_cast<WindowQuery*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != query->processId || (!query->hiddenToo && !IsWindowVisible(window))) return TRUE;
  char text[256] = {};
  GetClassNameA(window, text, sizeof text);
  if (lstrcmpA(text, query->className) != 0) return TRUE;
  if (query->caption != nullptr) {
    GetWindowTextA(window, text, sizeof text);
    if (lstrcmpA(text, query->caption) != 0) return TRUE;
  }
  query->found.push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> WindowsOfProcess(DWORD processId, const char* className, const char* caption, bool hiddenToo) {
  WindowQuery query{processId, className, caption, hiddenToo, {}};
  EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&query));
  return query.found;
}
