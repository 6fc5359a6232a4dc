// The real gleamo.exe as a child process on the test's desktop, with its
// standard output going to a file of its own.
#pragma once

#include <windows.h>

#include <string>

#include "common/win32_handles.h"
#include "tests/e2e/icon_on_screen_win32.h"

// A program of the build tree, given by its path relative to this test
// program (GLEAMO_EXE_FROM_TEST, GLEAMO_END_FROM_TEST).
std::string BuiltProgramPath(const char* relativePath);

class GleamoProcess {
 public:
  // Starts gleamo.exe (the build tree's, or the one GLEAMO_E2E_PROGRAM names)
  // with these options.
  explicit GleamoProcess(const std::string& options);
  // A run the test did not end is ended here: by its own "end program"
  // command, or killed when that does not work, so that no icon of it stays.
  ~GleamoProcess();
  GleamoProcess(const GleamoProcess&) = delete;
  GleamoProcess& operator=(const GleamoProcess&) = delete;

  // Empty when the process runs, else why it could not be started.
  const std::string& StartError() const { return startError_; }
  DWORD Id() const { return processId_; }

  // The hidden controller dialog: class "#32770", caption "gleamo"; null
  // when it did not appear in time.
  HWND WaitForDialog(DWORD milliseconds);

  // Sends the "end program" command to the dialog, as the tray menu does.
  void PostEndProgram();

  bool Running() const;
  // True when the process has ended within the time; its exit code then.
  bool WaitForExit(DWORD milliseconds, DWORD& exitCode);

  // Everything the program wrote to standard output so far.
  std::string Output() const;

 private:
  std::string startError_;
  std::string outputPath_;
  unique_kernel_handle process_;
  DWORD processId_ = 0;
  HWND dialog_ = nullptr;
};

// The one visible window of the process with this class and caption (any
// caption when null), or null when none came in time.
HWND WaitForWindowOf(const GleamoProcess& gleamo, const char* className, const char* caption, DWORD milliseconds);

constexpr char MENU_CLASS[] = "#32768";

// The middle of item `index` of a three-item menu.
POINT MenuItemCentre(const RECT& menu, int index);

// Right-clicks the icon and waits for the program's menu.
HWND OpenTrayMenu(const GleamoProcess& gleamo, const IconOnScreen& icon);
