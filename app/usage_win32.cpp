#include "app/usage_win32.h"

#include <windows.h>

#include "app/display_settings.h"

int ShowUsage() { return MessageBoxA(nullptr, USAGE_TEXT, "Usage", MB_OK); }
