#include "app/indicator_app_win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "activity/wmi_connection_win32.h"
#include "app/display_settings.h"
#include "res/resource.h"
#include "tests/common/stdout_capture.h"
#include "tests/tray/fake_shell_win32.h"
#include "tests/tray/icon_pixels_win32.h"

namespace {

UINT TaskbarCreated() {
  return RegisterWindowMessageA("TaskbarCreated");
}

INT_PTR Deliver(const CIndicatorApp& app, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return CIndicatorApp::DialogProc(app.Dialog(), message, wParam, lParam);
}

bool TakeQuitMessage(HWND dialog, MSG& message) {
  return PeekMessageA(&message, dialog, WM_APP_QUIT, WM_APP_QUIT, PM_REMOVE) != 0;
}

class IndicatorAppTest : public testing::Test {
 protected:
  FakeShell shell;

  void SetUp() override {
    displaySettings = DisplaySettings{};
    ParseCommandLine("-s -b", displaySettings);
    // Every test after the first would otherwise skip the connection.
    firstTick = TRUE;
    previousTotal = 0;
  }
  void TearDown() override {
    ShutdownWmiConnection();
    displaySettings = DisplaySettings{};
  }
};

TEST_F(IndicatorAppTest, ConstructionMakesAHiddenDialogWithTheTimerButNoIcon) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  ASSERT_NE(app.Dialog(), nullptr);
  EXPECT_FALSE(IsWindowVisible(app.Dialog()));
  EXPECT_EQ(GetWindowLongPtrA(app.Dialog(), GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&app));
  EXPECT_EQ(app.TimerId(), TIMER_POLL);
  EXPECT_EQ(app.CurrentIconCode(), 18);
  EXPECT_EQ(app.ShownIconCode(), 0);
  EXPECT_EQ(app.TrayHolder(), nullptr);
  EXPECT_EQ(shell.Count(), 0) << "no tray icon before the first tick";
}

TEST_F(IndicatorAppTest, WithoutItsDialogResourceTheControllerHasNoWindowAndNoTimer) {
  CIndicatorApp app(GetModuleHandleA("kernel32.dll"));
  EXPECT_EQ(app.Dialog(), nullptr);
  EXPECT_EQ(app.TimerId(), 0u);
  app.Shutdown();  // must complete all the same
}

TEST_F(IndicatorAppTest, EndProgramKillsTheTimerAndPostsTheQuitMessage) {
  for (const WORD notification : {WORD{0}, WORD{EN_CHANGE}}) {
    CIndicatorApp app(GetModuleHandleA(nullptr));
    EXPECT_EQ(Deliver(app, WM_COMMAND, MAKEWPARAM(ID_END_PROGRAM, notification)), 0);
    MSG quit{};
    ASSERT_TRUE(TakeQuitMessage(app.Dialog(), quit)) << "notification " << notification;
    EXPECT_EQ(quit.wParam, 2u);
    EXPECT_EQ(quit.lParam, 0);
    EXPECT_FALSE(KillTimer(app.Dialog(), TIMER_POLL)) << "the poll timer should be gone already";
  }
}

TEST_F(IndicatorAppTest, CommandsWithOtherNotificationCodesAreIgnored) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  for (const WORD notification : {WORD{1}, WORD{0x200}, WORD{0xFFFF}}) {
    EXPECT_EQ(Deliver(app, WM_COMMAND, MAKEWPARAM(ID_END_PROGRAM, notification)), 0);
  }
  Deliver(app, WM_COMMAND, MAKEWPARAM(4711, 0));  // an unknown command does nothing either
  MSG quit{};
  EXPECT_FALSE(TakeQuitMessage(app.Dialog(), quit));
  EXPECT_TRUE(KillTimer(app.Dialog(), TIMER_POLL)) << "the poll timer should still run";
}

TEST_F(IndicatorAppTest, TrayCallbackIsAnsweredWithOneForEveryMouseMessage) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  for (const UINT mouse :
       {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_MOUSEMOVE, WM_MBUTTONDOWN}) {
    EXPECT_EQ(Deliver(app, WM_TRAY_CALLBACK, 0, mouse), 1) << "mouse message " << mouse;
  }
  EXPECT_EQ(shell.Count(), 0);
  EXPECT_EQ(Deliver(app, WM_USER + 99), 0);
}

// While the tray menu tracks, reads what it shows and closes it.
struct MenuReader {
  static inline std::vector<std::string> items;
  static inline std::vector<UINT> ids;
  static void CALLBACK ReadAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (HWND popup = FindWindowA("#32768", nullptr)) {
      auto menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
      for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[64] = {};
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        items.emplace_back(text);
        ids.push_back(GetMenuItemID(menu, i));
      }
    }
    EndMenu();
  }
};

TEST_F(IndicatorAppTest, RightButtonDownShowsTheTrayMenu) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  MenuReader::items.clear();
  MenuReader::ids.clear();
  SetTimer(nullptr, 0, 300, &MenuReader::ReadAndClose);
  EXPECT_EQ(Deliver(app, WM_TRAY_CALLBACK, 0, WM_RBUTTONDOWN), 1);
  EXPECT_EQ(MenuReader::items, (std::vector<std::string>{"help", "meet author", "end program"}));
  EXPECT_EQ(MenuReader::ids, (std::vector<UINT>{ID_HELP, ID_MEET_AUTHOR, ID_END_PROGRAM}));
  MSG quit{};
  EXPECT_FALSE(TakeQuitMessage(app.Dialog(), quit)) << "closing the menu chooses nothing";
}

TEST_F(IndicatorAppTest, TheFirstTickConnectsOnceAndBuildsTheTray) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  StdoutCapture capture;
  for (int tick = 0; tick < 4; ++tick) Deliver(app, WM_TIMER, TIMER_POLL);
  const std::string output = capture.Take();

  size_t connections = 0;
  for (size_t at = output.find("Connecting to"); at != std::string::npos; at = output.find("Connecting to", at + 1)) {
    ++connections;
  }
  EXPECT_EQ(connections, 1u) << output;
  EXPECT_NE(WmiServices, nullptr);
  EXPECT_FALSE(firstTick);
  // Wine has no disk instances: the total stays 0 and the symbol stays idle.
  EXPECT_EQ(app.CurrentIconCode(), 10);
  EXPECT_EQ(app.ShownIconCode(), 10);
  EXPECT_STREQ(app.Tooltip(), "Tavoli by Norvath");
  ASSERT_NE(app.TrayHolder(), nullptr);
  EXPECT_STREQ(app.TrayHolder()->TopLabel(), "TAV");
  EXPECT_STREQ(app.TrayHolder()->BottomLabel(), "OLI");
  // One add, one tooltip and one picture change; the idle ticks after it change nothing.
  ASSERT_EQ(shell.Count(), 3);
  EXPECT_EQ(shell.Count(NIM_ADD), 1);
  EXPECT_STREQ(shell.calls[0].data.szTip, "Tavoli by Norvath");
  EXPECT_STREQ(shell.calls[1].data.szTip, "Tavoli by Norvath");
  EXPECT_EQ(IconPixel(shell.calls[2].data.hIcon, 3, 3), 0x4C4C4Cu) << "the idle symbol is dark grey";

  // The messages that may tell of a new icon size ask for it; the size has
  // not changed, so the icon is not painted again.
  for (const UINT message :
       {0x02E0u /* WM_DPICHANGED */, static_cast<UINT>(WM_DISPLAYCHANGE), static_cast<UINT>(WM_SETTINGCHANGE)}) {
    Deliver(app, message);
  }
  EXPECT_EQ(shell.Count(), 3);
}

TEST_F(IndicatorAppTest, ATrayThatCouldNotBeBuiltIsBuiltOnTheNextTickWithoutASecondConnection) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  shell.throwOnAdds = 1;
  StdoutCapture capture;
  EXPECT_EQ(Deliver(app, WM_TIMER, TIMER_POLL), 0);  // the dialog procedure catches the failure
  EXPECT_EQ(app.TrayHolder(), nullptr);
  Deliver(app, WM_TIMER, TIMER_POLL);
  const std::string output = capture.Take();
  EXPECT_EQ(output.find("Connecting to"), output.rfind("Connecting to")) << output;
  ASSERT_NE(app.TrayHolder(), nullptr);
  EXPECT_EQ(shell.Count(NIM_ADD), 1);  // the add that threw is not recorded
  EXPECT_EQ(shell.calls.back().message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(app.ShownIconCode(), 10);
}

// The shell is busy at logon: the icon comes as soon as it takes it, with
// no change of the picture needed.
TEST_F(IndicatorAppTest, ABusyShellGetsTheIconOnALaterTick) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  shell.refuseEveryAdd = true;
  StdoutCapture capture;
  Deliver(app, WM_TIMER, TIMER_POLL);
  ASSERT_NE(app.TrayHolder(), nullptr);
  EXPECT_FALSE(app.TrayHolder()->Shown());
  shell.refuseEveryAdd = false;
  const DWORD ready = GetTickCount();
  while (!app.TrayHolder()->Shown() && GetTickCount() - ready < 2 * CTrayIndicator::RETRY_INTERVAL_MS) {
    Deliver(app, WM_TIMER, TIMER_POLL);  // idle ticks: the code stays 10
    Sleep(100);
  }
  EXPECT_TRUE(app.TrayHolder()->Shown());
  EXPECT_EQ(shell.Present(), 1);
  EXPECT_EQ(app.ShownIconCode(), 10);
  app.Shutdown();
  EXPECT_EQ(shell.Present(), 0);
}

TEST_F(IndicatorAppTest, ATimerWithAnotherIdTakesNoSample) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  previousTotal = 12345;
  Deliver(app, WM_TIMER, 2);
  Deliver(app, WM_TIMER, 4567);
  EXPECT_TRUE(firstTick) << "no connection was made";
  EXPECT_EQ(previousTotal, 12345);
  EXPECT_STREQ(app.Tooltip(), "");
  EXPECT_EQ(app.CurrentIconCode(), 18);
  EXPECT_EQ(shell.Count(), 0);
}

TEST_F(IndicatorAppTest, ShellRestartReplacesTheHolderAndKeepsTheTickState) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  Deliver(app, WM_TIMER, TIMER_POLL);
  ASSERT_NE(app.TrayHolder(), nullptr);
  const HICON oldPicture = app.TrayHolder()->CurrentIcon()->GetIcon();
  shell.calls.clear();

  EXPECT_EQ(Deliver(app, TaskbarCreated()), 0);

  // The old icon leaves before the new one is added: both are the dialog's icon 0.
  ASSERT_GE(shell.Count(), 2);
  EXPECT_EQ(shell.calls[0].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(shell.calls[1].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(shell.calls[1].data.hWnd, app.Dialog());
  EXPECT_EQ(shell.calls[1].data.uID, 0u);
  EXPECT_EQ(shell.Count(NIM_DELETE), 1);
  ICONINFO info{};
  EXPECT_FALSE(GetIconInfo(oldPicture, &info)) << "the old holder's picture should be released";
  EXPECT_EQ(app.ShownIconCode(), 10);
  EXPECT_FALSE(firstTick);
  EXPECT_EQ(IconPixel(app.TrayHolder()->CurrentIcon()->GetIcon(), 3, 3), 0x4C4C4Cu) << "shows the current code";
}

TEST_F(IndicatorAppTest, ShellRestartBeforeTheFirstTickBuildsTheTrayWithCode18) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  Deliver(app, TaskbarCreated());
  ASSERT_NE(app.TrayHolder(), nullptr);
  ASSERT_EQ(shell.Count(NIM_ADD), 1);
  EXPECT_EQ(IconPixel(app.TrayHolder()->CurrentIcon()->GetIcon(), 3, 3), 0xFFFFFFu) << "code 18 is the white symbol";
  EXPECT_EQ(app.ShownIconCode(), 0);
  EXPECT_TRUE(firstTick);

  shell.calls.clear();
  Deliver(app, WM_TIMER, TIMER_POLL);  // the first tick only repaints through it
  EXPECT_EQ(shell.Count(NIM_ADD), 0);
  EXPECT_EQ(shell.Count(NIM_MODIFY), 2);
}

// Chooses "end program" the way the menu does, once the loop has already
// fetched the WM_QUIT that is waiting: timers come only after it.
struct EndProgramLater {
  static inline HWND dialog = nullptr;
  static inline bool chosen = false;
  static inline DWORD chosenAt = 0;
  // When set, waits until such a window shows.
  static inline const char* openWindowClass = nullptr;
  static inline const char* openWindowCaption = nullptr;
  static void CALLBACK Choose(HWND, UINT, UINT_PTR timer, DWORD) {
    if (openWindowClass != nullptr) {
      const HWND open = FindWindowA(openWindowClass, openWindowCaption);
      if (open == nullptr || !IsWindowVisible(open)) return;
    }
    KillTimer(nullptr, timer);
    chosen = true;
    chosenAt = GetTickCount();
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(ID_END_PROGRAM, 0), 0);
  }
};

TEST_F(IndicatorAppTest, TheMessageLoopIgnoresWmQuitAndEndsOnTheQuitMessage) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  KillTimer(app.Dialog(), TIMER_POLL);  // no ticks in between
  EndProgramLater::dialog = app.Dialog();
  EndProgramLater::chosen = false;
  PostQuitMessage(0);
  SetTimer(nullptr, 0, 100, &EndProgramLater::Choose);
  EXPECT_EQ(app.RunMessageLoop(), -1);
  EXPECT_TRUE(EndProgramLater::chosen) << "the loop ended before the quit command";
  MSG left{};
  EXPECT_FALSE(PeekMessageA(&left, nullptr, 0, 0, PM_NOREMOVE))
      << "message " << left.message << " left behind: WM_QUIT should have been fetched and ignored";
}

// "end program" chosen while a modal loop runs inside the message loop:
// the usage box, or the tray menu (opened by "end program" from outside,
// as the end helper does).
TEST_F(IndicatorAppTest, EndProgramDuringTheUsageBoxOrTheMenuEndsThemAndTheLoop) {
  const struct {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    const char* windowClass;
    const char* caption;
  } openers[] = {
      {WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0, "#32770", "Usage"},
      {WM_TRAY_CALLBACK, 0, WM_RBUTTONDOWN, "#32768", nullptr},
  };
  for (const auto& opener : openers) {
    SCOPED_TRACE(testing::Message() << "opened by message " << opener.message);
    CIndicatorApp app(GetModuleHandleA(nullptr));
    KillTimer(app.Dialog(), TIMER_POLL);
    EndProgramLater::dialog = app.Dialog();
    EndProgramLater::chosen = false;
    EndProgramLater::openWindowClass = opener.windowClass;
    EndProgramLater::openWindowCaption = opener.caption;
    PostMessageA(app.Dialog(), opener.message, opener.wParam, opener.lParam);
    SetTimer(nullptr, 0, 100, &EndProgramLater::Choose);
    EXPECT_EQ(app.RunMessageLoop(), -1);
    ASSERT_TRUE(EndProgramLater::chosen);
    // Promptly; a visible window on a plain X server without a window
    // manager takes Wine up to 2 s to take down (the desktop test checks
    // the second).
    EXPECT_LT(GetTickCount() - EndProgramLater::chosenAt, 3000u);
    EXPECT_EQ(FindWindowA("#32770", "Usage"), nullptr) << "the usage box stayed open";
    EXPECT_EQ(FindWindowA("#32768", nullptr), nullptr) << "the menu stayed open";
  }
  EndProgramLater::openWindowClass = nullptr;
}

TEST_F(IndicatorAppTest, ShutdownRemovesTheIconAndDestroysTheDialog) {
  CIndicatorApp app(GetModuleHandleA(nullptr));
  Deliver(app, WM_TIMER, TIMER_POLL);
  const HWND dialog = app.Dialog();
  const HICON picture = app.TrayHolder()->CurrentIcon()->GetIcon();
  shell.calls.clear();
  app.Shutdown();
  EXPECT_EQ(shell.Count(NIM_DELETE), 1);
  EXPECT_EQ(app.TrayHolder(), nullptr);
  EXPECT_EQ(WmiServices, nullptr);
  EXPECT_FALSE(IsWindow(dialog));
  ICONINFO info{};
  EXPECT_FALSE(GetIconInfo(picture, &info));
}

}  // namespace
