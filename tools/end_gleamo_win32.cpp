// Ends a running gleamo the way its tray menu's "end program" does: posts
// that command to the program's hidden window and waits for the program to
// leave. For scripts that start gleamo and must end it cleanly, on the Wine
// desktop named in GLEAMO_WINE_DESKTOP when that is set.
//
// Exit code: 0 when gleamo ended with 0; 1 when no gleamo was found; 2 when
// it did not end within ten seconds; 3 when it ended with another code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "res/resource.h"

int main() {
  if (const char* name = std::getenv("GLEAMO_WINE_DESKTOP"); name != nullptr && *name != '\0') {
    HDESK desktop = OpenDesktopA(name, 0, FALSE, GENERIC_ALL);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) {
      std::printf("end_gleamo: no desktop %s\n", name);
      return 1;
    }
  }
  HWND dialog = FindWindowA("#32770", "gleamo");
  DWORD processId = 0;
  if (dialog != nullptr) GetWindowThreadProcessId(dialog, &processId);
  HANDLE process = processId != 0 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId) : nullptr;
  if (process == nullptr) {
    std::printf("end_gleamo: gleamo is not running\n");
    return 1;
  }
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(ID_END_PROGRAM, 0), 0);
  DWORD exitCode = 0;
  const bool ended = WaitForSingleObject(process, 10000) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &exitCode);
  CloseHandle(process);
  if (!ended) {
    std::printf("end_gleamo: gleamo did not end\n");
    return 2;
  }
  return exitCode == 0 ? 0 : 3;
}
