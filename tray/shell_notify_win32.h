// The two platform calls of the notification-area icon that a test cannot
// make the platform answer on demand: the shell call itself (a test wants the
// shell to refuse an add, a modification or a removal, and wants to count the
// calls) and the version query (a test wants an old platform).
//
// Each is a process-wide function pointer that starts out as the platform
// function. A test puts its own function in and puts the previous one back
// when it is done (tests/tray/fake_shell_win32.h does both for the shell
// call); the program itself never changes them.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

using ShellNotifyIconFunction = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAA data);
using GetVersionFunction = DWORD(WINAPI*)();

// Shell_NotifyIconA unless a test replaced it.
extern ShellNotifyIconFunction shellNotifyIcon;

// GetVersion unless a test replaced it.
extern GetVersionFunction platformGetVersion;
