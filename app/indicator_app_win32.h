// The controller: a hidden dialog that owns the poll timer, receives the tray
// icon's callbacks and the menu commands, and rebuilds the tray icon.
#pragma once

#include <windows.h>

#include <memory>

#include "app/author_address.h"
#include "common/gleamo_types.h"
#include "common/win32_handles.h"
#include "tray/tray_indicator_win32.h"

constexpr UINT_PTR TIMER_POLL = 1;

// The tick's state for the whole run.
extern BOOL firstTick;                // the next tick connects before sampling
extern ActivitySample previousTotal;  // the sample of the previous tick

class CIndicatorApp {
 public:
  // Creates the hidden dialog and starts the poll timer; the tray icon comes
  // with the first tick.
  explicit CIndicatorApp(HINSTANCE instance);
  ~CIndicatorApp();
  CIndicatorApp(const CIndicatorApp&) = delete;
  CIndicatorApp& operator=(const CIndicatorApp&) = delete;

  // Runs until WM_APP_QUIT has been dispatched, by this loop or by a modal
  // loop running inside it (the usage box, the tray menu); WM_QUIT does not
  // end it.
  int RunMessageLoop();
  // Releases the tray, the WMI services, COM and the dialog.
  void Shutdown();

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  int HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RebuildTray();
  // Rebuilds the icon at once when the taskbar now wants another size than
  // the icon on show, whether or not its code changed.
  void FollowIconSize();
  int OnPollTimer(UINT_PTR timer);

  HWND Dialog() const { return dialog.get(); }
  UINT_PTR TimerId() const { return timerId; }
  IconCode CurrentIconCode() const { return iconCode; }
  IconCode ShownIconCode() const { return shownIconCode; }
  const char* Tooltip() const { return tooltip; }
  const CTrayIndicator* TrayHolder() const { return trayHolder ? trayHolder->get() : nullptr; }

 private:
  void ShowTrayMenu();
  // Ends the tray menu and every usage box of this thread, so that control
  // comes back to RunMessageLoop.
  void EndModalLoops();

  HINSTANCE instance;
  unique_hwnd dialog;
  UINT_PTR timerId = 0;
  IconCode iconCode = 10;
  IconCode shownIconCode = 0;
  const char* shownTrouble = nullptr;  // the tooltip's trouble line at that rebuild
  BOOL recreateTray = FALSE;
  BOOL quitReceived = FALSE;  // WM_APP_QUIT reached the dialog
  char tooltip[128] = {};
  char authorAddress[128] = {};
  // A cell that holds the current holder; none before the first rebuild.
  std::unique_ptr<std::unique_ptr<CTrayIndicator>> trayHolder;
};
