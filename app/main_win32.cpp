// gleamo's entry. For now it reads the command line and reports the settings
// it would run with; the tray icon comes with the controller.
#include <windows.h>

#include <cstdio>

#include "app/display_settings.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  ParseCommandLine(arguments, displaySettings);
  const char* style = displaySettings.barIcon ? "bar" : displaySettings.charIcon ? "char" : "symbol";
  std::printf("gleamo: %s icon, colour %d, poll every %d ms\n", style, static_cast<int>(displaySettings.color),
              displaySettings.fastBlink ? 150 : 300);
  return 0;
}
