// gleamo's entry: read the options, raise the priority, run the controller.
#include <windows.h>

#include <cstdio>

#include "app/display_settings.h"
#include "app/indicator_app_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  ParseCommandLine(arguments, displaySettings);
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);  // whatever the system grants
  CIndicatorApp app(GetModuleHandleA(nullptr));
  if (app.Dialog() != nullptr) {
    app.RunMessageLoop();
  } else {
    // Without its window nothing could ever end the message loop: a program
    // that waited there would run invisibly until killed.
    std::printf("Could not create the controller window.\n");
  }
  app.Shutdown();
  return 0;
}
