// CSystemTray against a real notification area: Wine's taskbar on the
// virtual desktop that scripts/with-wine-desktop.sh puts up. The icons are
// solid colours that nothing else on the desktop shows, so the screen's
// pixels tell whether the icon is on the taskbar.
#include "tray/system_tray_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "common/gleamo_types.h"
#include "tests/tray/solid_icon_win32.h"

namespace {

constexpr int ICON_PIXELS = 16 * 16;

// Joins the test's desktop before any window exists, and waits for its
// taskbar.
class WineDesktop : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* name = std::getenv("GLEAMO_WINE_DESKTOP");
    ASSERT_NE(name, nullptr) << "run this under scripts/with-wine-desktop.sh";
    HDESK desktop = OpenDesktopA(name, 0, FALSE, GENERIC_ALL);
    ASSERT_NE(desktop, nullptr) << "no desktop " << name;
    ASSERT_TRUE(SetThreadDesktop(desktop));
    for (int attempt = 0; attempt < 150 && FindWindowA("Shell_TrayWnd", nullptr) == nullptr; ++attempt) Sleep(100);
    ASSERT_NE(FindWindowA("Shell_TrayWnd", nullptr), nullptr) << "the desktop has no taskbar";
  }
};

const auto* const wineDesktop = ::testing::AddGlobalTestEnvironment(new WineDesktop);

struct ColourSpot {
  int pixels = 0;
  RECT bounds = {LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
};

// Where the screen shows exactly this colour.
ColourSpot FindOnScreen(BYTE red, BYTE green, BYTE blue) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;

  ColourSpot spot;
  HDC screen = GetDC(nullptr);
  unique_hdc memory(CreateCompatibleDC(screen));
  void* bits = nullptr;
  unique_hbitmap shot(CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (shot && bits != nullptr) {
    const HGDIOBJ previous = SelectObject(memory.get(), shot.get());
    BitBlt(memory.get(), 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory.get(), previous);
    const auto* pixel = static_cast<const DWORD*>(bits);
    const DWORD wanted = (DWORD{red} << 16) | (DWORD{green} << 8) | blue;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if ((pixel[y * width + x] & 0xFFFFFF) != wanted) continue;
        ++spot.pixels;
        spot.bounds.left = std::min<LONG>(spot.bounds.left, x);
        spot.bounds.top = std::min<LONG>(spot.bounds.top, y);
        spot.bounds.right = std::max<LONG>(spot.bounds.right, x + 1);
        spot.bounds.bottom = std::max<LONG>(spot.bounds.bottom, y + 1);
      }
    }
  }
  ReleaseDC(nullptr, screen);
  return spot;
}

// The taskbar repaints on its own time: look again for up to two seconds.
template <typename Condition>
ColourSpot WaitForScreen(BYTE red, BYTE green, BYTE blue, Condition condition) {
  ColourSpot spot = FindOnScreen(red, green, blue);
  for (int attempt = 0; attempt < 40 && !condition(spot); ++attempt) {
    Sleep(50);
    spot = FindOnScreen(red, green, blue);
  }
  return spot;
}

ColourSpot WaitUntilShown(BYTE red, BYTE green, BYTE blue) {
  return WaitForScreen(red, green, blue, [](const ColourSpot& spot) { return spot.pixels >= ICON_PIXELS; });
}

ColourSpot WaitUntilGone(BYTE red, BYTE green, BYTE blue) {
  return WaitForScreen(red, green, blue, [](const ColourSpot& spot) { return spot.pixels == 0; });
}

void ExpectOnTheTaskbar(const ColourSpot& spot) {
  RECT taskbar = {};
  ASSERT_TRUE(GetWindowRect(FindWindowA("Shell_TrayWnd", nullptr), &taskbar));
  EXPECT_EQ(spot.pixels, ICON_PIXELS);
  EXPECT_EQ(spot.bounds.right - spot.bounds.left, 16);
  EXPECT_EQ(spot.bounds.bottom - spot.bounds.top, 16);
  EXPECT_GE(spot.bounds.left, taskbar.left);
  EXPECT_GE(spot.bounds.top, taskbar.top);
  EXPECT_LE(spot.bounds.right, taskbar.right);
  EXPECT_LE(spot.bounds.bottom, taskbar.bottom);
}

// Owner window that records the icon's callback messages.
class CallbackOwner {
 public:
  CallbackOwner() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "GleamoTrayTestOwner";
    RegisterClassA(&windowClass);
    window_.reset(CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  windowClass.hInstance, nullptr));
    received_.clear();
  }
  HWND get() const { return window_.get(); }
  static const std::vector<MSG>& Received() { return received_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TRAY_CALLBACK) received_.push_back(MSG{window, message, wParam, lParam, 0, {}});
    return DefWindowProcA(window, message, wParam, lParam);
  }
  static inline std::vector<MSG> received_;
  unique_hwnd window_;
};

// Lets the owner's and the hidden window's messages arrive for a while.
void PumpMessages(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(10);
  }
}

// Counts what reaches the callback hook of the hidden window.
class CountingTray : public CSystemTray {
 public:
  int callbacks = 0;
  int HandleTrayCallback(WPARAM wParam, LPARAM lParam) override {
    ++callbacks;
    return CSystemTray::HandleTrayCallback(wParam, lParam);
  }
};

void ClickRight(const RECT& bounds) {
  SetCursorPos((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
  INPUT presses[2] = {};
  presses[0].type = INPUT_MOUSE;
  presses[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
  presses[1].type = INPUT_MOUSE;
  presses[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
  SendInput(2, presses, sizeof(INPUT));
  PumpMessages(500);
  // Away again, so that no tooltip of this icon covers the next test's icon.
  SetCursorPos(0, 0);
}

TEST(SystemTrayOnTheTaskbar, IconIsShownChangedAndRemoved) {
  const auto magenta = MakeSolidIcon(255, 0, 255);
  const auto cyan = MakeSolidIcon(0, 255, 255);
  CallbackOwner owner;
  CSystemTray tray;
  ASSERT_NE(tray.Create(GetModuleHandleA(nullptr), owner.get(), WM_TRAY_CALLBACK, "gleamo tray test", magenta.get(), 0),
            0);
  ExpectOnTheTaskbar(WaitUntilShown(255, 0, 255));

  EXPECT_NE(tray.SetIcon(cyan.get()), 0);
  ExpectOnTheTaskbar(WaitUntilShown(0, 255, 255));
  EXPECT_EQ(WaitUntilGone(255, 0, 255).pixels, 0);

  // Only the tip changes: the picture stays.
  EXPECT_NE(tray.SetTipText("another tip"), 0);
  ExpectOnTheTaskbar(WaitUntilShown(0, 255, 255));

  EXPECT_EQ(tray.RemoveIcon(), 1);
  EXPECT_EQ(WaitUntilGone(0, 255, 255).pixels, 0);
  EXPECT_EQ(FindOnScreen(255, 0, 255).pixels, 0);
}

TEST(SystemTrayOnTheTaskbar, DestructionTakesTheIconAway) {
  const auto yellow = MakeSolidIcon(255, 255, 0);
  CallbackOwner owner;
  {
    CSystemTray tray;
    ASSERT_NE(tray.Create(GetModuleHandleA(nullptr), owner.get(), WM_TRAY_CALLBACK, "tip", yellow.get(), 0), 0);
    ExpectOnTheTaskbar(WaitUntilShown(255, 255, 0));
  }
  EXPECT_EQ(WaitUntilGone(255, 255, 0).pixels, 0);
}

TEST(SystemTrayOnTheTaskbar, ClicksReachTheOwnerAndNotTheHiddenWindow) {
  const auto green = MakeSolidIcon(0, 255, 0);
  CallbackOwner owner;
  CountingTray tray;
  ASSERT_NE(tray.Create(GetModuleHandleA(nullptr), owner.get(), WM_TRAY_CALLBACK, "tip", green.get(), 3), 0);
  const ColourSpot spot = WaitUntilShown(0, 255, 0);
  ExpectOnTheTaskbar(spot);
  ClickRight(spot.bounds);
  bool rightButtonUp = false;
  for (const MSG& message : CallbackOwner::Received()) {
    EXPECT_EQ(message.wParam, 3u);
    rightButtonUp = rightButtonUp || LOWORD(message.lParam) == WM_RBUTTONUP;
  }
  EXPECT_TRUE(rightButtonUp);
  EXPECT_EQ(tray.callbacks, 0);
}

TEST(SystemTrayOnTheTaskbar, WithoutOwnerClicksReachTheCallbackHook) {
  const auto blue = MakeSolidIcon(0, 0, 255);
  CountingTray tray;
  // No menu resource numbered 9: the click is answered without a menu.
  ASSERT_NE(tray.Create(GetModuleHandleA(nullptr), nullptr, WM_TRAY_CALLBACK, "tip", blue.get(), 9), 0);
  const ColourSpot spot = WaitUntilShown(0, 0, 255);
  ExpectOnTheTaskbar(spot);
  ClickRight(spot.bounds);
  EXPECT_GE(tray.callbacks, 1);
}

}  // namespace
