#include "tray/tray_indicator_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_shell_win32.h"
#include "icon_pixels_win32.h"

namespace {

constexpr UINT CALLBACK_MESSAGE = 1032;

unique_hwnd MakeOwner() {
  return unique_hwnd(CreateWindowExA(0, "STATIC", "holder owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr));
}

TEST(CTrayIndicator, ConstructionPaintsFirstAndAddsOnceWithTheTooltip) {
  FakeShell shell;
  const unique_hwnd owner = MakeOwner();
  CTrayIndicator holder(GetModuleHandleA(nullptr), owner.get(), CALLBACK_MESSAGE, "", "", 13, "first tip");

  ASSERT_EQ(shell.Count(), 1);
  const FakeShell::Call& add = shell.calls[0];
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  ASSERT_NE(holder.CurrentIcon(), nullptr);
  EXPECT_NE(add.data.hIcon, nullptr) << "the shell must never see an add without a picture";
  EXPECT_EQ(add.data.hIcon, holder.CurrentIcon()->GetIcon());
  EXPECT_STREQ(add.data.szTip, "first tip");
  EXPECT_EQ(add.data.hWnd, owner.get());
  EXPECT_EQ(add.data.uID, 0u);
  EXPECT_EQ(add.data.uCallbackMessage, CALLBACK_MESSAGE);
  EXPECT_EQ(add.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(IconPixel(add.data.hIcon, 3, 3), 0x0000FFu) << "code 13 is the blue symbol";
}

// A shell busy at logon refuses the icon for longer than the holder's
// construction waits; the next new picture gets it in.
TEST(CTrayIndicator, ABusyShellGetsTheIconWithTheNextPicture) {
  FakeShell shell;
  shell.refuseEveryAdd = true;
  const unique_hwnd owner = MakeOwner();
  {
    CTrayIndicator holder(GetModuleHandleA(nullptr), owner.get(), CALLBACK_MESSAGE, "", "", 13, "tip");
    EXPECT_FALSE(holder.Shown());
    shell.refuseEveryAdd = false;
    holder.ReplaceIcon(11, "tip");
    EXPECT_TRUE(holder.Shown());
    ASSERT_EQ(shell.Present(), 1);
    EXPECT_EQ(shell.calls.back().message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(shell.calls.back().data.hIcon, holder.CurrentIcon()->GetIcon());
    holder.ReplaceIcon(12, "tip");
    EXPECT_EQ(shell.calls.back().message, static_cast<DWORD>(NIM_MODIFY)) << "once in, it is modified as usual";
  }
  EXPECT_EQ(shell.Present(), 0);
}

TEST(CTrayIndicator, ReplaceIconAlwaysPaintsAnewAndChangesTipThenPicture) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "shell refuses the changes" : "shell accepts the changes");
    FakeShell shell;
    const unique_hwnd owner = MakeOwner();
    CTrayIndicator holder(GetModuleHandleA(nullptr), owner.get(), CALLBACK_MESSAGE, "", "", 110000, "tip");
    shell.refuseModify = refused;
    const CActivityIcon* before = holder.CurrentIcon();
    const HICON beforeIcon = before->GetIcon();

    holder.ReplaceIcon(110000, "same code, new tip");  // the same code still paints

    ASSERT_EQ(shell.Count(), 3);
    EXPECT_EQ(shell.calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(shell.calls[1].data.uFlags, static_cast<UINT>(NIF_TIP));
    EXPECT_STREQ(shell.calls[1].data.szTip, "same code, new tip");
    EXPECT_EQ(shell.calls[2].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(shell.calls[2].data.uFlags, static_cast<UINT>(NIF_ICON));
    ASSERT_NE(holder.CurrentIcon(), nullptr);
    EXPECT_EQ(shell.calls[2].data.hIcon, holder.CurrentIcon()->GetIcon());
    EXPECT_NE(shell.calls[2].data.hIcon, beforeIcon);
    EXPECT_FALSE(IconAlive(beforeIcon)) << "the replaced picture must be released";
    EXPECT_TRUE(IconAlive(holder.CurrentIcon()->GetIcon()));
  }
}

TEST(CTrayIndicator, LabelsAreCutAndTakeEffectOnlyWithTheNextPicture) {
  FakeShell shell;
  const unique_hwnd owner = MakeOwner();
  CTrayIndicator holder(GetModuleHandleA(nullptr), owner.get(), CALLBACK_MESSAGE, "ABCDEFG", "WXYZ", 111, "tip");
  EXPECT_STREQ(holder.TopLabel(), "ABCD");
  EXPECT_STREQ(holder.BottomLabel(), "WXY");

  const HICON shown = holder.CurrentIcon()->GetIcon();
  holder.SetLabels("", "");
  EXPECT_EQ(shell.Count(), 1) << "SetLabels alone makes no shell call";
  EXPECT_EQ(holder.CurrentIcon()->GetIcon(), shown);
  EXPECT_STREQ(holder.TopLabel(), "");
  EXPECT_STREQ(holder.BottomLabel(), "");

  holder.SetLabels("TAV", "OLI");
  EXPECT_STREQ(holder.TopLabel(), "TAV");
  EXPECT_STREQ(holder.BottomLabel(), "OLI");
}

// Records, at the moment of the removal, whether the removed icon's picture
// was still alive.
struct RemovalWitness {
  static inline std::vector<bool> pictureAliveAtDelete;
  static BOOL WINAPI Notify(DWORD message, PNOTIFYICONDATAA data) {
    if (message == NIM_DELETE) pictureAliveAtDelete.push_back(IconAlive(data->hIcon));
    return TRUE;
  }
};

TEST(CTrayIndicator, DestructionRemovesTheIconBeforeReleasingItsPicture) {
  const ShellNotifyIconFunction previous = shellNotifyIcon;
  shellNotifyIcon = &RemovalWitness::Notify;
  RemovalWitness::pictureAliveAtDelete.clear();
  HICON last = nullptr;
  {
    const unique_hwnd owner = MakeOwner();
    CTrayIndicator holder(GetModuleHandleA(nullptr), owner.get(), CALLBACK_MESSAGE, "", "", 12, "tip");
    holder.ReplaceIcon(10, "tip");
    last = holder.CurrentIcon()->GetIcon();
  }
  shellNotifyIcon = previous;
  ASSERT_EQ(RemovalWitness::pictureAliveAtDelete.size(), 1u);
  EXPECT_TRUE(RemovalWitness::pictureAliveAtDelete[0]);
  EXPECT_FALSE(IconAlive(last));
}

}  // namespace
