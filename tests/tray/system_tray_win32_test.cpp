// CSystemTray against a stand-in shell: what reaches the shell, in which
// state the object is, how long Create waits, and where its hidden window's
// messages go. Windows, menus, timers and the version query are Wine's own.
#include "tray/system_tray_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "tests/tray/fake_shell_win32.h"
#include "tests/tray/solid_icon_win32.h"
#include "tests/tray/tray_test_menu.h"

namespace {

constexpr UINT CALLBACK_MESSAGE = WM_USER + 8;
constexpr UINT ICON_ID = 5;

// Opens the protected fields and records what reaches the virtual hooks.
class TrayProbe : public CSystemTray {
 public:
  using CSystemTray::animationIcons;
  using CSystemTray::animationIndex;
  using CSystemTray::animationSeconds;
  using CSystemTray::animationStart;
  using CSystemTray::animationTimerId;
  using CSystemTray::currentInstance;
  using CSystemTray::defaultByPosition;
  using CSystemTray::defaultMenuItem;
  using CSystemTray::enabled;
  using CSystemTray::hidden;
  using CSystemTray::hiddenWindow;
  using CSystemTray::iconBeforeAnimation;
  using CSystemTray::iconData;
  using CSystemTray::reAddArmed;
  using CSystemTray::removed;
  using CSystemTray::savedFlags;
  using CSystemTray::shellV5Features;
  using CSystemTray::targetWindow;
  using CSystemTray::taskbarCreatedMessage;
  using CSystemTray::tipLimit;

  int callbacks = 0;
  WPARAM lastCallbackWParam = 0;
  HMENU preparedMenu = nullptr;
  int preparedDefaultItem = -2;

  int HandleTrayCallback(WPARAM wParam, LPARAM lParam) override {
    ++callbacks;
    lastCallbackWParam = wParam;
    return CSystemTray::HandleTrayCallback(wParam, lParam);
  }

  // The menu is about to be tracked: note it, and close it again soon from
  // inside its own loop.
  void PrepareMenu(HMENU menu) override {
    preparedMenu = menu;
    preparedDefaultItem = static_cast<int>(GetMenuDefaultItem(menu, TRUE, 0));
    menuCloser_ = SetTimer(nullptr, 0, 50, &CloseMenu);
  }

  ~TrayProbe() override {
    if (menuCloser_ != 0) KillTimer(nullptr, menuCloser_);
  }

  HWND Window() const { return hiddenWindow.get(); }

  int CreateShown(HWND owner, const char* tip = "tip", HICON icon = nullptr, UINT id = ICON_ID) {
    return Create(GetModuleHandleA(nullptr), owner, CALLBACK_MESSAGE, tip, icon, id);
  }

 private:
  static void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }
  UINT_PTR menuCloser_ = 0;
};

struct Stopwatch {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  long long Milliseconds() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  }
};

unique_hwnd MakeOwnerWindow() {
  return unique_hwnd(CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr));
}

// Takes the first message of the given kind from the owner's queue.
bool TakePosted(HWND window, UINT message, MSG& found) {
  return PeekMessageA(&found, window, message, message, PM_REMOVE) != FALSE;
}

void DrainPosted(HWND window) {
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
  }
}

std::string Repeated(char c, std::size_t count) {
  return std::string(count, c);
}

// ---------------------------------------------------------------------------
// The states of the object and what each lets reach the shell.

TEST(SystemTrayStates, ConstructedHoldsAZeroRecordAndCallsNoShell) {
  FakeShell shell;
  TrayProbe tray;
  EXPECT_EQ(TrayProbe::currentInstance, &tray);
  EXPECT_FALSE(tray.enabled);
  EXPECT_TRUE(tray.hidden);
  EXPECT_TRUE(tray.removed);
  EXPECT_FALSE(tray.reAddArmed);
  EXPECT_EQ(tray.defaultMenuItem, 0u);
  EXPECT_TRUE(tray.defaultByPosition);
  EXPECT_EQ(tray.animationTimerId, 0u);
  EXPECT_EQ(tray.iconBeforeAnimation, nullptr);
  EXPECT_EQ(tray.savedFlags, 0u);
  EXPECT_EQ(tray.Window(), nullptr);
  EXPECT_EQ(tray.GetTargetWindow(), nullptr);
  EXPECT_TRUE(tray.animationIcons.empty());
  NOTIFYICONDATAA zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&tray.iconData, &zero, sizeof zero), 0);
  // Wine reports an NT platform of version 6 or later.
  EXPECT_TRUE(tray.shellV5Features);

  EXPECT_EQ(tray.SetIcon(nullptr), 0);
  EXPECT_EQ(tray.SetTipText("x"), 0);
  EXPECT_EQ(tray.RemoveIcon(), 1);
  EXPECT_EQ(shell.Count(), 0);
}

TEST(SystemTrayStates, UnsupportedPlatformCreatesNothing) {
  FakeShell shell;
  ScopedPlatformVersion windows3(3);
  const auto icon = MakeSolidIcon(255, 0, 0);
  HWND window = nullptr;
  {
    TrayProbe tray;
    Stopwatch clock;
    EXPECT_EQ(tray.CreateShown(nullptr, "tip", icon.get()), 0);
    EXPECT_LT(clock.Milliseconds(), 100);  // no add loop
    EXPECT_FALSE(tray.enabled);
    EXPECT_TRUE(tray.removed);
    EXPECT_TRUE(tray.hidden);
    window = tray.Window();
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(tray.iconData.cbSize, 0u);
    EXPECT_EQ(tray.SetIcon(icon.get()), 0);
    EXPECT_EQ(tray.SetTipText("y"), 0);
    EXPECT_EQ(tray.RemoveIcon(), 1);
  }
  EXPECT_EQ(shell.Count(), 0);
}

TEST(SystemTrayStates, CreateWithOwnerShowsTheIconOnBehalfOfTheOwner) {
  FakeShell shell;
  const auto owner = MakeOwnerWindow();
  const auto icon = MakeSolidIcon(0, 255, 0);
  TrayProbe tray;
  Stopwatch clock;
  EXPECT_NE(tray.CreateShown(owner.get(), "Tavoli", icon.get()), 0);
  // Accepted at once, and still the pause after it.
  EXPECT_GE(clock.Milliseconds(), 100);

  ASSERT_EQ(shell.Count(), 1);
  const FakeShell::Call& add = shell.calls[0];
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  // The version-5 record of the architecture: wider handles make it longer on 64-bit.
  EXPECT_EQ(add.data.cbSize, sizeof(void*) == 8 ? 504u : 488u);
  EXPECT_EQ(add.data.hWnd, owner.get());
  EXPECT_EQ(add.data.uID, ICON_ID);
  EXPECT_EQ(add.data.uFlags, 7u);
  EXPECT_EQ(add.data.uCallbackMessage, CALLBACK_MESSAGE);
  EXPECT_EQ(add.data.hIcon, icon.get());
  EXPECT_STREQ(add.data.szTip, "Tavoli");
  EXPECT_EQ(add.data.szInfo[0], '\0');

  EXPECT_EQ(tray.targetWindow, owner.get());
  EXPECT_EQ(tray.GetTargetWindow(), owner.get());
  EXPECT_EQ(tray.GetCallbackMessage(), CALLBACK_MESSAGE);
  EXPECT_EQ(tray.savedFlags, 7u);
  EXPECT_EQ(TrayProbe::tipLimit, 128);
  // Shown.
  EXPECT_TRUE(tray.enabled);
  EXPECT_FALSE(tray.removed);
  EXPECT_FALSE(tray.hidden);
  EXPECT_FALSE(tray.reAddArmed);

  // The hidden window exists even with an owner, and stays hidden.
  ASSERT_NE(tray.Window(), nullptr);
  char className[32] = {};
  GetClassNameA(tray.Window(), className, sizeof className);
  EXPECT_STREQ(className, "TrayIconClass");
  EXPECT_FALSE(IsWindowVisible(tray.Window()));
}

TEST(SystemTrayStates, CreateWithoutOwnerRoutesTheCallbackThroughTheHiddenWindow) {
  FakeShell shell;
  TrayProbe tray;
  ASSERT_NE(tray.CreateShown(nullptr), 0);
  ASSERT_NE(tray.Window(), nullptr);
  EXPECT_EQ(shell.calls[0].data.hWnd, tray.Window());
  EXPECT_EQ(tray.GetTargetWindow(), tray.Window());

  // A mouse move over the icon: answered by HandleTrayCallback with 1.
  EXPECT_EQ(SendMessageA(tray.Window(), CALLBACK_MESSAGE, ICON_ID, WM_MOUSEMOVE), 1);
  EXPECT_EQ(tray.callbacks, 1);
  EXPECT_EQ(tray.lastCallbackWParam, ICON_ID);

  // Another icon's notification: reaches the handler, which answers 0.
  EXPECT_EQ(SendMessageA(tray.Window(), CALLBACK_MESSAGE, ICON_ID + 1, WM_RBUTTONUP), 0);
  EXPECT_EQ(tray.callbacks, 2);
  EXPECT_EQ(tray.preparedMenu, nullptr);  // no menu for a foreign icon
}

TEST(SystemTrayStates, RemoveTwiceCallsTheShellOnce) {
  FakeShell shell;
  TrayProbe tray;
  ASSERT_NE(tray.CreateShown(nullptr), 0);
  EXPECT_EQ(tray.RemoveIcon(), 1);
  ASSERT_EQ(shell.Count(NIM_DELETE), 1);
  EXPECT_EQ(shell.calls.back().data.uFlags, 0u);
  EXPECT_EQ(shell.calls.back().data.uID, ICON_ID);
  // Removed.
  EXPECT_TRUE(tray.enabled);
  EXPECT_TRUE(tray.removed);
  EXPECT_TRUE(tray.hidden);

  EXPECT_EQ(tray.RemoveIcon(), 1);
  EXPECT_EQ(shell.Count(NIM_DELETE), 1);
  // Removed is also not on show: changes are only stored.
  EXPECT_EQ(tray.SetTipText("later"), 1);
  EXPECT_EQ(shell.Count(NIM_MODIFY), 0);
  EXPECT_STREQ(tray.iconData.szTip, "later");
}

TEST(SystemTrayStates, RefusedRemovalKeepsTheIconAndDestructionStillEnds) {
  FakeShell shell;
  HWND window = nullptr;
  {
    TrayProbe tray;
    ASSERT_NE(tray.CreateShown(nullptr), 0);
    window = tray.Window();
    shell.refuseDelete = true;
    tray.reAddArmed = TRUE;
    EXPECT_EQ(tray.RemoveIcon(), 0);
    EXPECT_FALSE(tray.removed);
    EXPECT_FALSE(tray.hidden);
    EXPECT_FALSE(tray.reAddArmed);  // cleared in every case
    EXPECT_EQ(tray.SetTipText("still shown"), 1);
    EXPECT_EQ(shell.Count(NIM_MODIFY), 1);
  }
  // The destructor tried once more, and took the hidden window with it.
  EXPECT_EQ(shell.Count(NIM_DELETE), 2);
  EXPECT_FALSE(IsWindow(window));
}

TEST(SystemTrayStates, HiddenIconOnAnOlderShellIsNotAddedAndOnlyStoresChanges) {
  FakeShell shell;
  const auto first = MakeSolidIcon(1, 2, 3);
  const auto second = MakeSolidIcon(4, 5, 6);
  TrayProbe tray;
  tray.shellV5Features = FALSE;
  EXPECT_EQ(tray.Create(GetModuleHandleA(nullptr), nullptr, CALLBACK_MESSAGE, "tip", first.get(), ICON_ID, TRUE,
                        "balloon", "title"),
            0);
  EXPECT_EQ(shell.Count(), 0);
  EXPECT_TRUE(tray.enabled);
  EXPECT_TRUE(tray.removed);
  EXPECT_TRUE(tray.hidden);
  // No balloon without the version-5 shell.
  EXPECT_EQ(tray.iconData.uFlags, 7u);
  EXPECT_EQ(tray.iconData.szInfo[0], '\0');

  EXPECT_EQ(tray.SetIcon(second.get()), 1);
  EXPECT_EQ(tray.SetTipText("new tip"), 1);
  EXPECT_EQ(shell.Count(), 0);
  EXPECT_EQ(tray.iconData.hIcon, second.get());
  EXPECT_STREQ(tray.iconData.szTip, "new tip");
  EXPECT_EQ(tray.RemoveIcon(), 1);
  EXPECT_EQ(shell.Count(), 0);
}

TEST(SystemTrayStates, HiddenIconOnAVersion5ShellIsAddedWithTheHiddenStateAlone) {
  FakeShell shell;
  TrayProbe tray;
  ASSERT_TRUE(tray.shellV5Features);
  EXPECT_NE(tray.Create(GetModuleHandleA(nullptr), nullptr, CALLBACK_MESSAGE, "tip", nullptr, ICON_ID, TRUE, "balloon"),
            0);
  ASSERT_EQ(shell.Count(NIM_ADD), 1);
  EXPECT_EQ(shell.calls[0].data.uFlags, static_cast<UINT>(NIF_STATE));
  EXPECT_EQ(shell.calls[0].data.dwState, static_cast<DWORD>(NIS_HIDDEN));
  EXPECT_EQ(shell.calls[0].data.dwStateMask, static_cast<DWORD>(NIS_HIDDEN));
  EXPECT_EQ(tray.savedFlags, static_cast<UINT>(NIF_STATE));
  EXPECT_FALSE(tray.hidden);
  EXPECT_FALSE(tray.removed);
}

TEST(SystemTrayStates, BalloonGoesWithTheAddOnlyAndIsCut) {
  FakeShell shell;
  TrayProbe tray;
  const std::string text = Repeated('b', 300);
  const std::string title = Repeated('t', 100);
  ASSERT_NE(tray.Create(GetModuleHandleA(nullptr), nullptr, CALLBACK_MESSAGE, "tip", nullptr, ICON_ID, FALSE,
                        text.c_str(), title.c_str(), NIIF_INFO, 7),
            0);
  const NOTIFYICONDATAA& add = shell.calls.at(0).data;
  EXPECT_EQ(add.uFlags, 23u);
  EXPECT_EQ(std::string(add.szInfo), text.substr(0, 255));
  EXPECT_EQ(std::string(add.szInfoTitle), title.substr(0, 63));
  EXPECT_EQ(add.uTimeout, 7u);
  EXPECT_EQ(add.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_EQ(tray.savedFlags, 23u);
  // Later calls carry no balloon text.
  EXPECT_EQ(tray.iconData.szInfo[0], '\0');
}

// ---------------------------------------------------------------------------
// The add loop.

TEST(SystemTrayAddLoop, ThirdAcceptedAddTakesAboutThreePauses) {
  FakeShell shell;
  shell.refuseAdds = 2;
  TrayProbe tray;
  Stopwatch clock;
  EXPECT_NE(tray.CreateShown(nullptr), 0);
  const long long elapsed = clock.Milliseconds();
  EXPECT_EQ(shell.Count(NIM_ADD), 3);
  EXPECT_GE(elapsed, 290);
  EXPECT_LT(elapsed, 900);
  EXPECT_FALSE(tray.removed);
  EXPECT_FALSE(tray.hidden);
}

TEST(SystemTrayAddLoop, GivesUpWhenNoShellEverTakesTheIcon) {
  FakeShell shell;
  shell.refuseEveryAdd = true;
  const auto icon = MakeSolidIcon(9, 9, 9);
  TrayProbe tray;
  Stopwatch clock;
  EXPECT_EQ(tray.CreateShown(nullptr, "tip", icon.get()), 0);
  const long long elapsed = clock.Milliseconds();
  EXPECT_GE(elapsed, static_cast<long long>(CSystemTray::ADD_WAIT_LIMIT_MS));
  EXPECT_LT(elapsed, static_cast<long long>(CSystemTray::ADD_WAIT_LIMIT_MS) + 1500);
  EXPECT_GE(shell.Count(NIM_ADD), 7);
  EXPECT_LE(shell.Count(NIM_ADD), 11);
  // Not in the notification area and not on show: changes are only stored.
  EXPECT_TRUE(tray.enabled);
  EXPECT_TRUE(tray.removed);
  EXPECT_TRUE(tray.hidden);
  const int calls = shell.Count();
  EXPECT_EQ(tray.SetIcon(icon.get()), 1);
  EXPECT_EQ(shell.Count(), calls);
  // An add the shell reported as failed may have landed all the same: the
  // removal asks the shell, once.
  EXPECT_EQ(tray.RemoveIcon(), 1);
  EXPECT_EQ(tray.RemoveIcon(), 1);
  EXPECT_EQ(shell.Count(NIM_DELETE), 1);
  EXPECT_EQ(shell.Count(), calls + 1);
}

// A shell busy at logon: it refuses for longer than Create waits, or takes
// an add but reports that it failed. Later tries get the icon in, once.
TEST(SystemTrayAddLoop, RetriesGetTheIconInOnceTheShellTakesIt) {
  FakeShell shell;
  shell.refuseEveryAdd = true;
  const auto icon = MakeSolidIcon(9, 9, 9);
  const auto later = MakeSolidIcon(0, 9, 9);
  TrayProbe tray;
  ASSERT_EQ(tray.CreateShown(nullptr, "tip", icon.get()), 0);
  EXPECT_EQ(tray.RetryAdd(), 0);  // still busy
  EXPECT_FALSE(tray.InTray());

  shell.refuseEveryAdd = false;
  shell.acceptLateAdds = 1;  // taken, but reported as failed
  tray.SetIcon(later.get());
  EXPECT_EQ(tray.RetryAdd(), 0);
  EXPECT_EQ(shell.Present(), 1);
  EXPECT_NE(tray.RetryAdd(), 0) << "the icon the shell took is found by a modification";
  EXPECT_EQ(shell.Present(), 1) << "no second icon";
  EXPECT_EQ(shell.calls.back().message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(shell.calls.back().data.hIcon, later.get());
  EXPECT_EQ(shell.calls.back().data.uFlags, 7u);
  EXPECT_TRUE(tray.InTray());
  EXPECT_NE(tray.RetryAdd(), 0);  // in: nothing more to do
  const int calls = shell.Count();
  EXPECT_NE(tray.SetTipText("now"), 0);
  EXPECT_EQ(shell.Count(), calls + 1) << "changes go to the shell as usual";
  EXPECT_EQ(tray.RemoveIcon(), 1);
  EXPECT_EQ(shell.Present(), 0);
}

TEST(SystemTrayAddLoop, AnAddThatLandedLateIsFoundInsideCreateOrRemovedAtTheEnd) {
  {
    FakeShell shell;
    shell.acceptLateAdds = 1;
    TrayProbe tray;
    EXPECT_NE(tray.CreateShown(nullptr), 0);
    EXPECT_EQ(shell.Count(NIM_ADD), 1);
    EXPECT_EQ(shell.Present(), 1);
  }
  FakeShell shell;
  shell.refuseEveryAdd = true;
  {
    TrayProbe tray;
    ASSERT_EQ(tray.CreateShown(nullptr), 0);
    shell.refuseEveryAdd = false;
    shell.acceptLateAdds = 1;
    EXPECT_EQ(tray.RetryAdd(), 0);
    ASSERT_EQ(shell.Present(), 1);
  }
  EXPECT_EQ(shell.Present(), 0) << "the icon outlived its object";
}

TEST(SystemTrayAddLoop, ASecondCreateTakesTheFirstIconAway) {
  FakeShell shell;
  TrayProbe tray;
  ASSERT_NE(tray.CreateShown(nullptr), 0);
  const HWND firstWindow = tray.Window();
  ASSERT_NE(tray.CreateShown(nullptr), 0);
  EXPECT_FALSE(IsWindow(firstWindow));
  EXPECT_EQ(shell.Present(), 1);
  EXPECT_EQ(shell.calls[1].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(shell.calls[1].data.hWnd, firstWindow);
}

// ---------------------------------------------------------------------------
// Changes of picture and tooltip.

TEST(SystemTrayChanges, SetIconNamesOnlyTheIconAndKeepsARefusedValue) {
  FakeShell shell;
  const auto first = MakeSolidIcon(10, 0, 0);
  const auto second = MakeSolidIcon(20, 0, 0);
  const auto third = MakeSolidIcon(30, 0, 0);
  TrayProbe tray;
  ASSERT_NE(tray.CreateShown(nullptr, "tip", first.get()), 0);

  EXPECT_NE(tray.SetIcon(second.get()), 0);
  ASSERT_EQ(shell.Count(NIM_MODIFY), 1);
  EXPECT_EQ(shell.calls.back().data.uFlags, static_cast<UINT>(NIF_ICON));
  EXPECT_EQ(shell.calls.back().data.hIcon, second.get());

  shell.refuseModify = true;
  EXPECT_EQ(tray.SetIcon(third.get()), 0);
  EXPECT_EQ(tray.iconData.hIcon, third.get());
  shell.refuseModify = false;
  // The next call carries the refused picture along.
  EXPECT_NE(tray.SetTipText("next"), 0);
  EXPECT_EQ(shell.calls.back().data.uFlags, static_cast<UINT>(NIF_TIP));
  EXPECT_EQ(shell.calls.back().data.hIcon, third.get());
  EXPECT_STREQ(shell.calls.back().data.szTip, "next");
}

TEST(SystemTrayChanges, LongTooltipIsCutTo127Bytes) {
  FakeShell shell;
  const std::string longTip = Repeated('a', 100) + Repeated('z', 100);
  TrayProbe tray;
  ASSERT_NE(tray.CreateShown(nullptr, longTip.c_str()), 0);
  EXPECT_EQ(std::string(shell.calls.at(0).data.szTip), longTip.substr(0, 127));

  const std::string laterTip = Repeated('q', 200);
  EXPECT_NE(tray.SetTipText(laterTip.c_str()), 0);
  const NOTIFYICONDATAA& modify = shell.calls.back().data;
  EXPECT_EQ(std::strlen(modify.szTip), 127u);
  EXPECT_EQ(std::string(modify.szTip), laterTip.substr(0, 127));
  EXPECT_EQ(modify.szTip[127], '\0');

  // A short tip after a long one leaves nothing of the long one behind.
  EXPECT_NE(tray.SetTipText("ok"), 0);
  EXPECT_STREQ(shell.calls.back().data.szTip, "ok");
  EXPECT_NE(tray.SetTipText(nullptr), 0);
  EXPECT_STREQ(shell.calls.back().data.szTip, "");
}

TEST(SystemTrayChanges, TooltipCopiesFollowTheClassWideLimit) {
  FakeShell shell;
  TrayProbe tray;
  ASSERT_NE(tray.CreateShown(nullptr), 0);
  const std::string longTip = Repeated('m', 100);
  TrayProbe::tipLimit = 64;  // the value before any Create
  EXPECT_NE(tray.SetTipText(longTip.c_str()), 0);
  EXPECT_EQ(std::string(shell.calls.back().data.szTip), longTip.substr(0, 63));
  TrayProbe::tipLimit = 128;
  EXPECT_NE(tray.SetTipText(longTip.c_str()), 0);
  EXPECT_EQ(std::string(shell.calls.back().data.szTip), longTip);
}

TEST(SystemTrayChanges, ReAddActsOnlyWhenArmedAndNotHidden) {
  FakeShell shell;
  const auto icon = MakeSolidIcon(0, 0, 50);
  const auto later = MakeSolidIcon(0, 0, 60);
  TrayProbe tray;
  ASSERT_NE(tray.CreateShown(nullptr, "tip", icon.get()), 0);

  tray.ReAddIcon();  // not armed
  EXPECT_EQ(shell.Count(NIM_ADD), 1);

  tray.SetIcon(later.get());
  tray.SetTipText("latest");
  tray.reAddArmed = TRUE;
  shell.ForgetIcons();
  tray.ReAddIcon();
  ASSERT_EQ(shell.Count(NIM_ADD), 2);
  const NOTIFYICONDATAA& again = shell.calls.back().data;
  EXPECT_EQ(again.uFlags, 7u);  // the flags of Create, not those of the last change
  EXPECT_EQ(again.hIcon, later.get());
  EXPECT_STREQ(again.szTip, "latest");
  EXPECT_TRUE(tray.reAddArmed);
  EXPECT_FALSE(tray.hidden);

  // Re-add refused: not on show, disarmed, removal state untouched.
  shell.ForgetIcons();
  shell.refuseEveryAdd = true;
  tray.ReAddIcon();
  EXPECT_EQ(shell.Count(NIM_ADD), 3);
  EXPECT_TRUE(tray.hidden);
  EXPECT_FALSE(tray.reAddArmed);
  EXPECT_FALSE(tray.removed);
  EXPECT_EQ(tray.SetIcon(icon.get()), 1);
  EXPECT_EQ(shell.Count(NIM_MODIFY), 2);

  tray.reAddArmed = TRUE;  // armed but hidden: still nothing
  tray.ReAddIcon();
  EXPECT_EQ(shell.Count(NIM_ADD), 3);
}

// ---------------------------------------------------------------------------
// The hidden window's procedure.

class SystemTrayWindowProc : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(tray.CreateShown(nullptr), 0); }

  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam = 0) {
    return SendMessageA(tray.Window(), message, wParam, lParam);
  }

  FakeShell shell;
  TrayProbe tray;
};

TEST_F(SystemTrayWindowProc, TaskbarCreatedAndWorkAreaChangeReAddOnlyWhenArmed) {
  ASSERT_NE(TrayProbe::taskbarCreatedMessage, 0u);
  EXPECT_EQ(TrayProbe::taskbarCreatedMessage, RegisterWindowMessageA("TaskbarCreated"));
  const int calls = shell.Count();
  EXPECT_EQ(Send(TrayProbe::taskbarCreatedMessage, 0), 0);
  EXPECT_EQ(Send(WM_SETTINGCHANGE, SPI_SETWORKAREA), 0);
  EXPECT_EQ(shell.Count(), calls);

  tray.reAddArmed = TRUE;
  shell.ForgetIcons();
  EXPECT_EQ(Send(TrayProbe::taskbarCreatedMessage, 0), 0);
  EXPECT_EQ(shell.Count(NIM_ADD), 2);
  shell.ForgetIcons();
  EXPECT_EQ(Send(WM_SETTINGCHANGE, SPI_SETWORKAREA), 0);
  EXPECT_EQ(shell.Count(NIM_ADD), 3);
}

TEST_F(SystemTrayWindowProc, OtherSettingsChangesAndTimersGetDefaultProcessing) {
  tray.reAddArmed = TRUE;
  EXPECT_EQ(Send(WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER), 0);
  EXPECT_EQ(shell.Count(NIM_ADD), 1);

  // An animation runs under identifier 1; only 4567 reaches it.
  const auto frame = MakeSolidIcon(1, 1, 1);
  tray.animationIcons = {frame.get(), frame.get()};
  tray.animationTimerId = 1;
  Send(WM_TIMER, 1);
  EXPECT_EQ(shell.Count(NIM_MODIFY), 0);
  EXPECT_EQ(tray.animationIndex, 0u);
}

TEST_F(SystemTrayWindowProc, AnimationTimerWithoutAnimationDoesNothing) {
  const HICON before = tray.iconData.hIcon;
  EXPECT_EQ(Send(WM_TIMER, TIMER_ANIMATION), 0);
  EXPECT_EQ(shell.Count(), 1);
  EXPECT_EQ(tray.iconData.hIcon, before);
  EXPECT_EQ(tray.animationTimerId, 0u);
}

TEST_F(SystemTrayWindowProc, AnimationTimerStepsThroughTheIconsAndStopsWhenTimeIsUp) {
  const auto a = MakeSolidIcon(1, 0, 0);
  const auto b = MakeSolidIcon(2, 0, 0);
  const auto c = MakeSolidIcon(3, 0, 0);
  const auto original = MakeSolidIcon(4, 0, 0);
  tray.animationIcons = {a.get(), b.get(), c.get()};
  tray.animationIndex = 0;
  tray.animationStart = static_cast<std::int64_t>(std::time(nullptr));
  tray.animationSeconds = 0;  // until stopped
  tray.iconBeforeAnimation = original.get();
  tray.animationTimerId = static_cast<UINT>(SetTimer(tray.Window(), TIMER_ANIMATION, 10000, nullptr));
  ASSERT_EQ(tray.animationTimerId, TIMER_ANIMATION);

  const HICON expected[] = {b.get(), c.get(), a.get(), b.get()};
  for (HICON icon : expected) {
    EXPECT_EQ(Send(WM_TIMER, TIMER_ANIMATION), 0);
    EXPECT_EQ(shell.calls.back().data.hIcon, icon);
  }
  EXPECT_EQ(shell.Count(NIM_MODIFY), 4);

  // Time is up: the timer stops and the icon from before comes back.
  tray.animationSeconds = 5;
  tray.animationStart -= 6;
  EXPECT_EQ(Send(WM_TIMER, TIMER_ANIMATION), 0);
  EXPECT_EQ(tray.animationTimerId, 0u);
  EXPECT_EQ(tray.iconBeforeAnimation, nullptr);
  EXPECT_EQ(shell.calls.back().data.hIcon, original.get());
  EXPECT_EQ(tray.animationIcons.size(), 3u);
  EXPECT_FALSE(KillTimer(tray.Window(), TIMER_ANIMATION));  // already gone

  EXPECT_EQ(tray.StopAnimation(), 0);  // nothing running
  EXPECT_EQ(shell.Count(NIM_MODIFY), 5);
}

TEST_F(SystemTrayWindowProc, StepAnimationOnAnEmptyListOrShortenedListStaysInRange) {
  EXPECT_EQ(tray.StepAnimation(), 0);
  EXPECT_EQ(shell.Count(NIM_MODIFY), 0);
  const auto only = MakeSolidIcon(7, 7, 7);
  tray.animationIcons = {only.get()};
  tray.animationIndex = 5;
  EXPECT_NE(tray.StepAnimation(), 0);
  EXPECT_EQ(tray.animationIndex, 0u);
  EXPECT_EQ(shell.calls.back().data.hIcon, only.get());
}

// ---------------------------------------------------------------------------
// Several objects, and objects that are gone.

TEST(SystemTrayInstances, AnEarlierObjectsWindowGetsDefaultProcessing) {
  FakeShell shell;
  TrayProbe first;
  ASSERT_NE(first.CreateShown(nullptr), 0);
  first.reAddArmed = TRUE;
  {
    TrayProbe second;
    EXPECT_EQ(TrayProbe::currentInstance, &second);
    SendMessageA(first.Window(), TrayProbe::taskbarCreatedMessage, 0, 0);
    SendMessageA(first.Window(), CALLBACK_MESSAGE, ICON_ID, WM_MOUSEMOVE);
    EXPECT_EQ(first.callbacks, 0);
    EXPECT_EQ(shell.Count(NIM_ADD), 1);
  }
  // The second one is gone: nothing names it, and the first is not served
  // again either.
  EXPECT_EQ(TrayProbe::currentInstance, nullptr);
  SendMessageA(first.Window(), CALLBACK_MESSAGE, ICON_ID, WM_MOUSEMOVE);
  EXPECT_EQ(first.callbacks, 0);
}

TEST(SystemTrayInstances, DestructionRemovesTheIconAndTheWindowAndForgetsTheObject) {
  FakeShell shell;
  auto tray = std::make_unique<TrayProbe>();
  ASSERT_NE(tray->CreateShown(nullptr), 0);
  const HWND window = tray->Window();
  const UINT id = tray->iconData.uID;
  tray.reset();
  EXPECT_EQ(TrayProbe::currentInstance, nullptr);
  EXPECT_FALSE(IsWindow(window));
  ASSERT_EQ(shell.Count(NIM_DELETE), 1);
  EXPECT_EQ(shell.calls.back().data.uID, id);
  EXPECT_EQ(shell.calls.back().data.hWnd, window);

  // A later object registers nothing new and works as the first did.
  TrayProbe next;
  ASSERT_NE(next.CreateShown(nullptr), 0);
  EXPECT_EQ(SendMessageA(next.Window(), CALLBACK_MESSAGE, ICON_ID, WM_MOUSEMOVE), 1);
  EXPECT_EQ(next.callbacks, 1);
}

TEST(SystemTrayInstances, DestroyingAnOlderObjectLeavesTheCurrentOneServed) {
  FakeShell shell;
  auto older = std::make_unique<TrayProbe>();
  TrayProbe current;
  ASSERT_NE(current.CreateShown(nullptr), 0);
  older.reset();
  EXPECT_EQ(TrayProbe::currentInstance, &current);
  EXPECT_EQ(SendMessageA(current.Window(), CALLBACK_MESSAGE, ICON_ID, WM_MOUSEMOVE), 1);
  EXPECT_EQ(current.callbacks, 1);
}

// ---------------------------------------------------------------------------
// The icon's own mouse notifications.

class SystemTrayCallback : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(owner);
    ASSERT_NE(tray.CreateShown(owner.get(), "tip", nullptr, TEST_MENU_ICON_ID), 0);
    DrainPosted(owner.get());
  }

  FakeShell shell;
  unique_hwnd owner = MakeOwnerWindow();
  TrayProbe tray;
};

TEST_F(SystemTrayCallback, DoubleClickPostsTheDefaultItemOfTheMenu) {
  tray.defaultMenuItem = 1;  // by position: the second item
  EXPECT_EQ(tray.HandleTrayCallback(TEST_MENU_ICON_ID, WM_LBUTTONDBLCLK), 1);
  MSG posted;
  ASSERT_TRUE(TakePosted(owner.get(), WM_COMMAND, posted));
  EXPECT_EQ(posted.wParam, static_cast<WPARAM>(TEST_MENU_SECOND_COMMAND));
  EXPECT_EQ(posted.lParam, 0);
}

TEST_F(SystemTrayCallback, DoubleClickPostsACommandGivenByIdentifier) {
  tray.defaultByPosition = FALSE;
  tray.defaultMenuItem = 4321;
  EXPECT_EQ(tray.HandleTrayCallback(TEST_MENU_ICON_ID, MAKELPARAM(WM_LBUTTONDBLCLK, 9)), 1);
  MSG posted;
  ASSERT_TRUE(TakePosted(owner.get(), WM_COMMAND, posted));
  EXPECT_EQ(posted.wParam, 4321u);
}

TEST_F(SystemTrayCallback, WithoutAMenuResourceNothingIsPosted) {
  tray.iconData.uID = TEST_MENU_ICON_ID + 1;  // no such menu
  EXPECT_EQ(tray.HandleTrayCallback(TEST_MENU_ICON_ID + 1, WM_LBUTTONDBLCLK), 0);
  EXPECT_EQ(tray.HandleTrayCallback(TEST_MENU_ICON_ID + 1, WM_RBUTTONUP), 0);
  MSG posted;
  EXPECT_FALSE(TakePosted(owner.get(), WM_COMMAND, posted));
  EXPECT_EQ(tray.preparedMenu, nullptr);
}

TEST_F(SystemTrayCallback, RightClickShowsTheMenuWithItsDefaultAndCleansUp) {
  EXPECT_EQ(tray.HandleTrayCallback(TEST_MENU_ICON_ID, WM_RBUTTONUP), 1);
  ASSERT_NE(tray.preparedMenu, nullptr);
  EXPECT_EQ(tray.preparedDefaultItem, 0);   // first item, by position
  EXPECT_FALSE(IsMenu(tray.preparedMenu));  // destroyed after use
  MSG posted;
  EXPECT_TRUE(TakePosted(owner.get(), WM_NULL, posted));
}

TEST_F(SystemTrayCallback, OtherIconsAndOtherMouseMessages) {
  EXPECT_EQ(tray.HandleTrayCallback(TEST_MENU_ICON_ID + 1, WM_RBUTTONUP), 0);
  EXPECT_EQ(tray.HandleTrayCallback(TEST_MENU_ICON_ID, WM_LBUTTONDOWN), 1);
  EXPECT_EQ(tray.preparedMenu, nullptr);
  MSG posted;
  EXPECT_FALSE(TakePosted(owner.get(), 0, posted));
  tray.targetWindow = nullptr;
  tray.iconData.hWnd = nullptr;
  EXPECT_EQ(tray.HandleTrayCallback(TEST_MENU_ICON_ID, WM_LBUTTONDBLCLK), 0);
}

}  // namespace
