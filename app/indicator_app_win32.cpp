#include "app/indicator_app_win32.h"

#include <shellapi.h>

#include <cstdio>

#include "activity/counter_scale.h"
#include "activity/wmi_connection_win32.h"
#include "app/activity_tick.h"
#include "app/display_settings.h"
#include "app/popup_menu_win32.h"
#include "app/usage_win32.h"
#include "res/program_texts.h"
#include "res/resource.h"
#include "tray/icon_size_win32.h"

BOOL firstTick = TRUE;
ActivitySample previousTotal = 0;

namespace {

UINT taskbarCreatedMessage = 0;  // 0 until the dialog is initialised
// WM_DPICHANGED, which the headers of the oldest system we start on lack.
constexpr UINT DPI_CHANGED_MESSAGE = 0x02E0;
char trayTooltip[64];
char topLabelText[6];
char bottomLabelText[6];

// The usage box is the thread's only dialog besides the controller's own.
BOOL CALLBACK EndUsageBox(HWND window, LPARAM controllerDialog) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (window != reinterpret_cast<HWND>(controllerDialog) && lstrcmpA(className, "#32770") == 0) {
    EndDialog(window, IDOK);
  }
  return TRUE;
}

}  // namespace

CIndicatorApp::CIndicatorApp(HINSTANCE instance) : instance(instance) {
  lstrcpynA(authorAddress, AUTHOR_ADDRESS, sizeof authorAddress);
  dialog.reset(CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SERVER_MESSAGE), nullptr, &CIndicatorApp::DialogProc,
                                  reinterpret_cast<LPARAM>(this)));
  if (!dialog) return;  // no window: no timer either
  SetWindowLongPtrA(dialog.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  recreateTray = FALSE;
  iconCode = 18;
  timerId = SetTimer(dialog.get(), TIMER_POLL, displaySettings.fastBlink ? 150 : 300, nullptr);
}

CIndicatorApp::~CIndicatorApp() {
  Shutdown();
}

INT_PTR CALLBACK CIndicatorApp::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Nothing may unwind through the system's frames: a failed allocation in a
  // tick or a rebuild ends that message, not the program.
  try {
    if (message == WM_INITDIALOG) taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    auto* app = reinterpret_cast<CIndicatorApp*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (app == nullptr) return 0;  // still being created
    if (taskbarCreatedMessage != 0 && message == taskbarCreatedMessage) {
      // The taskbar was created anew and has forgotten our icon.
      app->recreateTray = TRUE;
      app->RebuildTray();
    }
    return app->HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

int CIndicatorApp::HandleMessage(HWND /*window*/, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const WORD notification = HIWORD(wParam);
      if (notification != 0 && notification != EN_CHANGE) return 0;
      switch (LOWORD(wParam)) {
        case ID_END_PROGRAM:
          KillTimer(dialog.get(), timerId);
          PostMessageA(dialog.get(), WM_APP_QUIT, 2, 0);
          break;
        case ID_HELP: ShowUsage(); break;
        case ID_MEET_AUTHOR: ShellExecuteA(nullptr, "open", authorAddress, nullptr, nullptr, SW_SHOW); break;
        default: break;
      }
      return 0;
    }
    case WM_TIMER: return OnPollTimer(wParam);
    case DPI_CHANGED_MESSAGE:
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE: FollowIconSize(); return 0;
    case WM_TRAY_CALLBACK:
      if (LOWORD(lParam) == WM_RBUTTONDOWN) ShowTrayMenu();
      return 1;
    case WM_APP_QUIT:
      // A modal loop (the usage box, the menu) fetches and dispatches it like
      // any other message, and RunMessageLoop would never see it: remember
      // it and end those loops.
      quitReceived = TRUE;
      EndModalLoops();
      return 0;
    default: return 0;
  }
}

void CIndicatorApp::ShowTrayMenu() {
  CPopupMenu menu;
  menu.Load(IDR_TRAY_MENU, OwnModule()).Track(dialog.get(), nullptr, 0);
}

void CIndicatorApp::EndModalLoops() {
  EndMenu();
  EnumThreadWindows(GetCurrentThreadId(), &EndUsageBox, reinterpret_cast<LPARAM>(dialog.get()));
}

int CIndicatorApp::OnPollTimer(UINT_PTR timer) {
  if (timer != TIMER_POLL) return 0;
  RunActivityTick(
      displaySettings,
      TickState<BOOL>{firstTick, previousTotal, iconCode, shownIconCode, tooltip, sizeof tooltip, &shownTrouble},
      [] { return SampleWmiCounters(true); }, [] { return SampleWmiCounters(false); }, [this] { RebuildTray(); });
  // A shell that was busy when the icon was made is asked again every few
  // seconds, not only when the picture changes.
  if (trayHolder && *trayHolder) (*trayHolder)->RetryAddWhenDue();
  return 0;
}

void CIndicatorApp::FollowIconSize() {
  // Before the first rebuild there is no icon yet; that rebuild asks.
  if (!trayHolder || !*trayHolder) return;
  if (NotificationIconSize() != (*trayHolder)->IconSize()) RebuildTray();
}

void CIndicatorApp::RebuildTray() {
  lstrcpynA(trayTooltip, tooltip, 63);
  // Asked at every rebuild, never on a tick: the taskbar's DPI changes
  // rarely, and each of these messages tells of a change.
  const int iconSize = NotificationIconSize();
  if (!trayHolder || !*trayHolder || recreateTray) {
    recreateTray = FALSE;
    // Every holder's icon is the dialog's icon 0: the old holder must be gone
    // before the new one adds its icon, or its destruction would remove it.
    trayHolder.reset();
    // Built before it is installed: a build that throws leaves no empty
    // cell behind, and the next rebuild tries again.
    auto holder = std::make_unique<CTrayIndicator>(instance, dialog.get(), WM_TRAY_CALLBACK, "", "", iconCode,
                                                   trayTooltip, iconSize);
    trayHolder = std::make_unique<std::unique_ptr<CTrayIndicator>>(std::move(holder));
  }
  CTrayIndicator* holder = trayHolder->get();
  std::snprintf(topLabelText, sizeof topLabelText, TRAY_TOP_LABEL);
  std::snprintf(bottomLabelText, sizeof bottomLabelText, TRAY_BOTTOM_LABEL);
  holder->SetLabels(topLabelText, bottomLabelText);
  holder->SetIconSize(iconSize);
  holder->ReplaceIcon(iconCode, trayTooltip);
}

int CIndicatorApp::RunMessageLoop() {
  for (;;) {
    MSG message{};
    GetMessageA(&message, nullptr, 0, 0);  // neither WM_QUIT nor an error ends the loop
    // The dialog manager would swallow WM_APP_QUIT, so it bypasses it.
    if (message.message == WM_APP_QUIT || !IsDialogMessageA(dialog.get(), &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    // Also when a modal loop inside this message dispatched the quit.
    if (message.message == WM_APP_QUIT || quitReceived) return -1;
  }
}

void CIndicatorApp::Shutdown() {
  trayHolder.reset();  // removes the icon, then releases the last picture
  // Releases the services and balances exactly the COM initialisation the
  // connection kept, so a failed or absent connection uninitialises nothing.
  ShutdownWmiConnection();
  dialog.reset();  // also ends the dialog's timer
}
