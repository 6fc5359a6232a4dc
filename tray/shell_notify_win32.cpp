#include "tray/shell_notify_win32.h"

ShellNotifyIconFunction shellNotifyIcon = &Shell_NotifyIconA;
GetVersionFunction platformGetVersion = &GetVersion;
