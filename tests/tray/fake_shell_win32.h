// Test stand-ins for the notification area and the platform version, for any
// test binary that drives code built on CSystemTray.
//
//   FakeShell shell;            // from here on every shell call comes here
//   shell.refuseAdds = 2;       // the next two adds fail, the third succeeds
//   shell.refuseModify = true;  // every NIM_MODIFY fails
//   ... EXPECT_EQ(shell.Count(NIM_ADD), 3); shell.calls.back().data.szTip ...
//   // at the end of the scope the previous shell function is back
//
//   shell.acceptLateAdds = 1;   // the next add lands but reports failure, as
//                               // a busy shell's timed-out add does
//
// Like the real shell it keeps the icons it holds, by window and
// identifier: an add of an icon it holds fails, as do a modification or a
// removal of one it does not hold. Present() counts them.
//
//   ScopedPlatformVersion old(3);  // GetVersion reports major version 3
//
// One FakeShell at a time; both restore what they replaced.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "tray/shell_notify_win32.h"

class FakeShell {
 public:
  struct Call {
    DWORD message;         // NIM_ADD, NIM_MODIFY or NIM_DELETE
    NOTIFYICONDATAA data;  // the record as the shell saw it
    BOOL result;
  };

  int refuseAdds = 0;      // so many of the next adds fail
  int throwOnAdds = 0;     // so many of the next adds throw, as a failed allocation would
  int acceptLateAdds = 0;  // so many of the next accepted adds report failure
  bool refuseEveryAdd = false;
  bool refuseModify = false;
  bool refuseDelete = false;
  std::vector<Call> calls;

  FakeShell() : previous_(shellNotifyIcon) {
    active_ = this;
    shellNotifyIcon = &Notify;
  }
  ~FakeShell() {
    shellNotifyIcon = previous_;
    active_ = nullptr;
  }
  FakeShell(const FakeShell&) = delete;
  FakeShell& operator=(const FakeShell&) = delete;

  int Count(DWORD message) const {
    int count = 0;
    for (const Call& call : calls) count += call.message == message ? 1 : 0;
    return count;
  }
  int Count() const { return static_cast<int>(calls.size()); }
  int Present() const { return static_cast<int>(icons_.size()); }
  // The shell forgets every icon, as a taskbar that was started anew.
  void ForgetIcons() { icons_.clear(); }

 private:
  static BOOL WINAPI Notify(DWORD message, PNOTIFYICONDATAA data) {
    FakeShell& self = *active_;
    BOOL result = TRUE;
    if (message == NIM_ADD && self.throwOnAdds > 0) {
      --self.throwOnAdds;
      throw std::bad_alloc();
    }
    const auto held = std::find(self.icons_.begin(), self.icons_.end(), std::make_pair(data->hWnd, data->uID));
    const bool holds = held != self.icons_.end();
    if (message == NIM_ADD) {
      if (self.refuseEveryAdd || holds) {
        result = FALSE;
      } else if (self.refuseAdds > 0) {
        --self.refuseAdds;
        result = FALSE;
      } else {
        self.icons_.emplace_back(data->hWnd, data->uID);
        if (self.acceptLateAdds > 0) {
          --self.acceptLateAdds;
          result = FALSE;
        }
      }
    } else if (message == NIM_MODIFY) {
      result = self.refuseModify || !holds ? FALSE : TRUE;
    } else if (message == NIM_DELETE) {
      result = self.refuseDelete || !holds ? FALSE : TRUE;
      if (result) self.icons_.erase(held);
    }
    self.calls.push_back(Call{message, *data, result});
    return result;
  }

  std::vector<std::pair<HWND, UINT>> icons_;
  static inline FakeShell* active_ = nullptr;
  ShellNotifyIconFunction previous_;
};

// Makes GetVersion report the given major version (minor 0, NT build 0).
class ScopedPlatformVersion {
 public:
  explicit ScopedPlatformVersion(BYTE majorVersion) : previous_(platformGetVersion) {
    reported_ = majorVersion;
    platformGetVersion = &Report;
  }
  ~ScopedPlatformVersion() { platformGetVersion = previous_; }
  ScopedPlatformVersion(const ScopedPlatformVersion&) = delete;
  ScopedPlatformVersion& operator=(const ScopedPlatformVersion&) = delete;

 private:
  static DWORD WINAPI Report() { return reported_; }
  static inline DWORD reported_ = 0;
  GetVersionFunction previous_;
};
