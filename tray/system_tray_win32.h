// One icon in the taskbar's notification area: adds it, changes its picture
// and tooltip, removes it. Keeps one shell record for its whole life and a
// hidden top-level window of the class "TrayIconClass", through which the
// shell's broadcasts reach it.
//
// General purpose: it can also add the icon hidden, show a balloon with the
// add, answer the icon's mouse notifications with a context menu and a
// default command, and cycle through a list of icons on a timer. Derived
// classes reach every field; they fill the animation list and start the
// timer themselves.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/win32_handles.h"

// Timer of the hidden window that steps the icon animation.
constexpr UINT_PTR TIMER_ANIMATION = 4567;

// The record the shell gets is the version-5 one: 488 bytes, up to and
// including dwInfoFlags. MinGW's NOTIFYICONDATAA also carries guidItem (and
// more on newer targets); those trailing members stay zero and cbSize tells
// the shell not to read them.
#ifdef _WIN64
// The 64-bit build (the test road on hosts without 32-bit support): hWnd and
// hIcon are 8 bytes, each aligned to 8, so the same record is 504 bytes.
constexpr DWORD NOTIFY_ICON_RECORD_SIZE = 504;
static_assert(sizeof(NOTIFYICONDATAA) >= NOTIFY_ICON_RECORD_SIZE);
static_assert(offsetof(NOTIFYICONDATAA, szTip) == 40 && sizeof(NOTIFYICONDATAA::szTip) == 128);
static_assert(offsetof(NOTIFYICONDATAA, dwState) == 168 && offsetof(NOTIFYICONDATAA, dwStateMask) == 172);
static_assert(offsetof(NOTIFYICONDATAA, szInfo) == 176 && sizeof(NOTIFYICONDATAA::szInfo) == 256);
static_assert(offsetof(NOTIFYICONDATAA, uTimeout) == 432);
static_assert(offsetof(NOTIFYICONDATAA, szInfoTitle) == 436 && sizeof(NOTIFYICONDATAA::szInfoTitle) == 64);
static_assert(offsetof(NOTIFYICONDATAA, dwInfoFlags) + sizeof(DWORD) == NOTIFY_ICON_RECORD_SIZE);
#else
constexpr DWORD NOTIFY_ICON_RECORD_SIZE = 488;
static_assert(sizeof(NOTIFYICONDATAA) >= NOTIFY_ICON_RECORD_SIZE);
static_assert(offsetof(NOTIFYICONDATAA, szTip) == 24 && sizeof(NOTIFYICONDATAA::szTip) == 128);
static_assert(offsetof(NOTIFYICONDATAA, dwState) == 152 && offsetof(NOTIFYICONDATAA, dwStateMask) == 156);
static_assert(offsetof(NOTIFYICONDATAA, szInfo) == 160 && sizeof(NOTIFYICONDATAA::szInfo) == 256);
static_assert(offsetof(NOTIFYICONDATAA, uTimeout) == 416);
static_assert(offsetof(NOTIFYICONDATAA, szInfoTitle) == 420 && sizeof(NOTIFYICONDATAA::szInfoTitle) == 64);
static_assert(offsetof(NOTIFYICONDATAA, dwInfoFlags) + sizeof(DWORD) == NOTIFY_ICON_RECORD_SIZE);
#endif

class CSystemTray {
 public:
  CSystemTray();
  virtual ~CSystemTray();
  CSystemTray(const CSystemTray&) = delete;
  CSystemTray& operator=(const CSystemTray&) = delete;

  // Adds the icon; the callback message goes to owner, or to the hidden
  // window when owner is null. Returns nonzero when the shell took the icon,
  // 0 on a platform older than version 4, for a hidden icon on an older
  // shell, and when no shell took it within ADD_WAIT_LIMIT_MS; after that
  // last failure the icon counts as not on show, so that later changes are
  // only stored, until RetryAdd gets it into the notification area. A
  // second Create first removes the icon of the first.
  int Create(HINSTANCE instance, HWND owner, UINT callbackMessage, const char* tip, HICON icon, UINT id,
             BOOL hidden = FALSE, const char* balloonText = nullptr, const char* balloonTitle = nullptr,
             DWORD balloonFlags = 0, UINT balloonTimeout = 10);

  // Both return the shell's result, 1 when the value was only stored (the
  // icon is not on show), 0 when Create found an unsupported platform. The
  // icon handle stays the caller's.
  int SetIcon(HICON icon);
  int SetTipText(const char* text);

  // 1 when the icon is (now or already) out of the notification area, or
  // the class is not enabled; 0 when the shell refused.
  int RemoveIcon();

  // One more try at an icon that Create could not get into the notification
  // area: first a modification, since a busy shell may have taken an add it
  // reported as failed (a second add would then fail, or show a second
  // icon), then an add. Nonzero when the icon is in the notification area.
  int RetryAdd();
  // The icon is in the notification area.
  bool InTray() const { return !removed; }

  // One add with the flags of Create, no retry; acts only while reAddArmed
  // is set, which only a derived class or an earlier successful re-add does.
  void ReAddIcon();

  HWND GetTargetWindow() const;
  UINT GetCallbackMessage() const;

  // Answer to the icon's callback message when it reaches the hidden window:
  // right button up opens the context menu (menu resource numbered as the
  // icon), a left double click posts the default command to the target.
  virtual int HandleTrayCallback(WPARAM wParam, LPARAM lParam);

  // Called with the context menu just before it is shown.
  virtual void PrepareMenu(HMENU menu);

  int OnAnimationTimer(UINT id);
  int StepAnimation();
  int StopAnimation();

  // How long Create waits for a shell that refuses the icon. Longer would
  // only keep the calling thread's message loop stopped (no tick, no menu,
  // no way to end the program); a shell that is still busy after it gets
  // asked again through RetryAdd, and a taskbar that comes later
  // broadcasts "TaskbarCreated", on which the controller builds its tray
  // anew.
  static constexpr DWORD ADD_WAIT_LIMIT_MS = 1000;
  // Pause after every add attempt, the accepted one too.
  static constexpr DWORD ADD_RETRY_PAUSE_MS = 100;

 protected:
  static void RegisterWindowClass(HINSTANCE instance);
  static LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  NOTIFYICONDATAA iconData;
  HINSTANCE moduleInstance = nullptr;
  unique_hwnd hiddenWindow;
  HWND targetWindow = nullptr;
  BOOL enabled = FALSE;
  BOOL hidden = TRUE;
  BOOL removed = TRUE;
  BOOL reAddArmed = FALSE;
  BOOL shellV5Features = FALSE;
  std::vector<HICON> animationIcons;  // not owned
  UINT animationTimerId = 0;
  UINT animationIndex = 0;
  std::int64_t animationStart = 0;
  std::int32_t animationSeconds = 0;
  HICON iconBeforeAnimation = nullptr;
  UINT defaultMenuItem = 0;
  BOOL defaultByPosition = TRUE;
  UINT savedFlags = 0;
  // Create gave up on a visible icon: RetryAdd may still add it, and an add
  // the shell reported as failed may have landed, so removal deletes it.
  BOOL addPending = FALSE;

  // The most recently constructed object that still lives: the window
  // procedure serves only this one. A destructor clears it when it names its
  // own object, so the window procedure never reaches a destroyed object.
  static CSystemTray* currentInstance;
  // "TaskbarCreated", registered before the program's entry runs.
  static UINT taskbarCreatedMessage;
  // Tooltip copies take at most tipLimit - 1 bytes: 64 until a Create.
  static int tipLimit;
};
