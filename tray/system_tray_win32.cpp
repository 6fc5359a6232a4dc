#include "tray/system_tray_win32.h"

#include <cstring>
#include <ctime>

#include "tray/shell_notify_win32.h"

namespace {

constexpr char TRAY_WINDOW_CLASS[] = "TrayIconClass";

constexpr UINT FLAGS_MESSAGE_ICON_TIP = NIF_MESSAGE | NIF_ICON | NIF_TIP;  // 7

// Copies at most maxBytes bytes of text, and never more than the destination
// holds besides its terminating zero, which is always written. A null text
// counts as empty.
template <std::size_t N>
void CopyCut(char (&destination)[N], const char* text, std::size_t maxBytes) {
  if (maxBytes > N - 1) maxBytes = N - 1;
  std::size_t length = 0;
  if (text != nullptr) {
    while (length < maxBytes && text[length] != '\0') ++length;
    std::memcpy(destination, text, length);
  }
  destination[length] = '\0';
}

std::size_t TipBytes(int limit) {
  return limit > 1 ? static_cast<std::size_t>(limit - 1) : 0;
}

}  // namespace

CSystemTray* CSystemTray::currentInstance = nullptr;
UINT CSystemTray::taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
int CSystemTray::tipLimit = 64;

CSystemTray::CSystemTray() {
  currentInstance = this;
  std::memset(&iconData, 0, sizeof iconData);

  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  shellV5Features = version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5;
}

CSystemTray::~CSystemTray() {
  // First of all, so that nothing the window procedure receives from here on
  // (the removal, the window's own destruction, or later) reaches this object.
  if (currentInstance == this) currentInstance = nullptr;
  RemoveIcon();
  animationIcons.clear();
  hiddenWindow.reset();
}

int CSystemTray::Create(HINSTANCE instance, HWND owner, UINT callbackMessage, const char* tip, HICON icon, UINT id,
                        BOOL hiddenIcon, const char* balloonText, const char* balloonTitle, DWORD balloonFlags,
                        UINT balloonTimeout) {
  enabled = LOBYTE(LOWORD(platformGetVersion())) >= 4;
  if (!enabled) return 0;

  // A second Create would otherwise leave the first icon in the tray with no
  // one to remove it, and lose the first window.
  RemoveIcon();
  tipLimit = 128;
  moduleInstance = instance;
  RegisterWindowClass(instance);
  hiddenWindow.reset();
  hiddenWindow.reset(CreateWindowExA(0, TRAY_WINDOW_CLASS, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, nullptr, nullptr, instance, nullptr));

  iconData.cbSize = NOTIFY_ICON_RECORD_SIZE;
  iconData.hWnd = owner != nullptr ? owner : hiddenWindow.get();
  iconData.hIcon = icon;
  iconData.uCallbackMessage = callbackMessage;
  iconData.uID = id;
  iconData.uFlags = FLAGS_MESSAGE_ICON_TIP;
  CopyCut(iconData.szTip, tip, TipBytes(tipLimit));

  const bool withBalloon = shellV5Features && balloonText != nullptr;
  if (withBalloon) {
    iconData.uFlags |= NIF_INFO;
    CopyCut(iconData.szInfo, balloonText, 255);
    CopyCut(iconData.szInfoTitle, balloonTitle, 63);
    iconData.uTimeout = balloonTimeout;
    iconData.dwInfoFlags = balloonFlags;
  }

  targetWindow = iconData.hWnd;

  hidden = hiddenIcon;
  if (hidden && shellV5Features) {
    iconData.uFlags = NIF_STATE;
    iconData.dwState = NIS_HIDDEN;
    iconData.dwStateMask = NIS_HIDDEN;
  }
  savedFlags = iconData.uFlags;

  int result = 0;
  addPending = FALSE;
  if (!hidden || shellV5Features) {
    // The shell refuses while no taskbar runs: try again every pause, but
    // not for longer than ADD_WAIT_LIMIT_MS. If it never takes the icon, the
    // icon counts as not on show, so later changes are only stored.
    const DWORD start = GetTickCount();
    for (bool first = true;; first = false) {
      // A busy shell may have taken the previous add though it reported a
      // failure: then the icon is there to modify.
      iconData.uFlags = savedFlags;
      if (!first) result = shellNotifyIcon(NIM_MODIFY, &iconData);
      if (result == 0) result = shellNotifyIcon(NIM_ADD, &iconData);
      Sleep(ADD_RETRY_PAUSE_MS);
      if (result != 0 || GetTickCount() - start >= ADD_WAIT_LIMIT_MS) break;
    }
    if (result != 0) {
      removed = FALSE;
      hidden = FALSE;
    } else {
      addPending = !hiddenIcon;
      hidden = TRUE;
    }
    reAddArmed = FALSE;
  }

  // Later calls must not show the balloon again.
  if (withBalloon) iconData.szInfo[0] = '\0';
  return result;
}

int CSystemTray::SetIcon(HICON icon) {
  if (!enabled) return 0;
  iconData.uFlags = NIF_ICON;
  iconData.hIcon = icon;
  if (hidden) return 1;
  return shellNotifyIcon(NIM_MODIFY, &iconData);
}

int CSystemTray::SetTipText(const char* text) {
  if (!enabled) return 0;
  iconData.uFlags = NIF_TIP;
  CopyCut(iconData.szTip, text, TipBytes(tipLimit));
  if (hidden) return 1;
  return shellNotifyIcon(NIM_MODIFY, &iconData);
}

int CSystemTray::RemoveIcon() {
  reAddArmed = FALSE;
  if (!enabled || (removed && !addPending)) return 1;
  iconData.uFlags = 0;
  const BOOL deleted = shellNotifyIcon(NIM_DELETE, &iconData);
  // After an add of unknown outcome the delete either took the icon or
  // found none: nothing of ours is left in the tray either way.
  if (deleted || addPending) {
    hidden = TRUE;
    removed = TRUE;
  }
  addPending = FALSE;
  return removed ? 1 : 0;
}

int CSystemTray::RetryAdd() {
  if (!addPending) return removed ? 0 : 1;
  iconData.uFlags = savedFlags;
  BOOL result = shellNotifyIcon(NIM_MODIFY, &iconData);
  if (!result) result = shellNotifyIcon(NIM_ADD, &iconData);
  if (result) {
    addPending = FALSE;
    removed = FALSE;
    hidden = FALSE;
  }
  return result;
}

void CSystemTray::ReAddIcon() {
  if (!reAddArmed || hidden) return;
  iconData.uFlags = savedFlags;
  const bool added = shellNotifyIcon(NIM_ADD, &iconData) != 0;
  hidden = !added;
  reAddArmed = added;
}

HWND CSystemTray::GetTargetWindow() const {
  return targetWindow != nullptr ? targetWindow : iconData.hWnd;
}

UINT CSystemTray::GetCallbackMessage() const {
  return iconData.uCallbackMessage;
}

int CSystemTray::HandleTrayCallback(WPARAM wParam, LPARAM lParam) {
  if (wParam != iconData.uID) return 0;
  const HWND target = GetTargetWindow();
  if (target == nullptr) return 0;

  const UINT mouseMessage = LOWORD(lParam);
  if (mouseMessage == WM_RBUTTONUP) {
    unique_hmenu menu(LoadMenuA(moduleInstance, MAKEINTRESOURCEA(LOWORD(iconData.uID))));
    if (!menu) return 0;
    const HMENU submenu = GetSubMenu(menu.get(), 0);
    if (submenu == nullptr) return 0;
    SetMenuDefaultItem(submenu, defaultMenuItem, defaultByPosition);
    PrepareMenu(submenu);
    POINT cursor = {};
    GetCursorPos(&cursor);
    // The menu closes when the user clicks elsewhere only if its window is in
    // the foreground, and the posted message ends the menu's loop cleanly.
    SetForegroundWindow(iconData.hWnd);
    TrackPopupMenu(submenu, 0, cursor.x, cursor.y, 0, target, nullptr);
    PostMessageA(iconData.hWnd, WM_NULL, 0, 0);
    return 1;
  }
  if (mouseMessage == WM_LBUTTONDBLCLK) {
    SetForegroundWindow(iconData.hWnd);
    UINT command = defaultMenuItem;
    if (defaultByPosition) {
      unique_hmenu menu(LoadMenuA(moduleInstance, MAKEINTRESOURCEA(LOWORD(iconData.uID))));
      if (!menu) return 0;
      const HMENU submenu = GetSubMenu(menu.get(), 0);
      if (submenu == nullptr) return 0;
      command = GetMenuItemID(submenu, static_cast<int>(defaultMenuItem));
    }
    PostMessageA(target, WM_COMMAND, command, 0);
    return 1;
  }
  return 1;
}

void CSystemTray::PrepareMenu(HMENU) {}

int CSystemTray::OnAnimationTimer(UINT id) {
  if (id != animationTimerId) return 0;
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  if (animationSeconds > 0 && now - animationStart > animationSeconds) {
    StopAnimation();
  } else {
    StepAnimation();
  }
  return 0;
}

int CSystemTray::StepAnimation() {
  if (animationIcons.empty()) return 0;
  ++animationIndex;
  // ">=" rather than "==": a derived class may have shortened the list.
  if (animationIndex >= animationIcons.size()) animationIndex = 0;
  return SetIcon(animationIcons[animationIndex]);
}

int CSystemTray::StopAnimation() {
  int result = 0;
  if (animationTimerId != 0) result = KillTimer(hiddenWindow.get(), animationTimerId);
  animationTimerId = 0;
  if (iconBeforeAnimation != nullptr) SetIcon(iconBeforeAnimation);
  iconBeforeAnimation = nullptr;
  return result;
}

void CSystemTray::RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = &CSystemTray::TrayWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = TRAY_WINDOW_CLASS;
  // A second object registers again; that fails and the first registration
  // stays in use, which is what we want.
  RegisterClassExA(&windowClass);
}

LRESULT CALLBACK CSystemTray::TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Only the current object's window is served: earlier objects' windows, and
  // messages sent while CreateWindowExA runs (before hiddenWindow is stored),
  // get default processing.
  CSystemTray* const tray = currentInstance;
  if (tray == nullptr || window != tray->hiddenWindow.get()) return DefWindowProcA(window, message, wParam, lParam);
  try {
    if (message == taskbarCreatedMessage) {
      tray->ReAddIcon();
      return 0;
    }
    if (message == WM_TIMER && wParam == TIMER_ANIMATION) {
      tray->OnAnimationTimer(static_cast<UINT>(wParam));
      return 0;
    }
    if (message == WM_SETTINGCHANGE && wParam == SPI_SETWORKAREA) {
      tray->ReAddIcon();
      return 0;
    }
    if (message == tray->GetCallbackMessage()) return tray->HandleTrayCallback(wParam, lParam);
  } catch (...) {
    // A derived class's hook may allocate; nothing may unwind into the system.
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
