#include "tests/e2e/gleamo_process_win32.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/desktop_win32.h"

std::string BuiltProgramPath(const char* relativePath) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self);
  path.erase(path.find_last_of("\\/") + 1);
  return path + relativePath;
}

namespace {

std::string NewOutputPath() {
  char directory[MAX_PATH] = {};
  char file[MAX_PATH] = {};
  GetTempPathA(sizeof directory, directory);
  GetTempFileNameA(directory, "gle", 0, file);
  return file;
}

}  // namespace

GleamoProcess::GleamoProcess(const std::string& options) : outputPath_(NewOutputPath()) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const unique_kernel_handle output(CreateFileA(outputPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output || output.get() == INVALID_HANDLE_VALUE) {
    startError_ = "cannot create " + outputPath_;
    return;
  }
  std::string desktop = WineDesktopName();
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop.data();  // the program's windows and icon go to the test's desktop
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  // GLEAMO_E2E_PROGRAM points a run at another copy of the program, such as
  // the one unpacked from the zip.
  const char* other = std::getenv("GLEAMO_E2E_PROGRAM");
  const std::string program = other != nullptr && *other != '\0' ? other : BuiltProgramPath(GLEAMO_EXE_FROM_TEST);
  std::string commandLine = "\"" + program + "\"" + (options.empty() ? "" : " " + options);
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
    startError_ = "cannot start " + commandLine + ", error " + std::to_string(GetLastError());
    return;
  }
  CloseHandle(started.hThread);
  process_.reset(started.hProcess);
  processId_ = started.dwProcessId;
}

GleamoProcess::~GleamoProcess() {
  if (Running()) {
    PostEndProgram();
    DWORD ignored = 0;
    if (!WaitForExit(5000, ignored)) TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
  }
  DeleteFileA(outputPath_.c_str());
}

HWND GleamoProcess::WaitForDialog(DWORD milliseconds) {
  if (dialog_ != nullptr) return dialog_;
  WaitFor(milliseconds, [this] {
    const std::vector<HWND> found = WindowsOfProcess(processId_, "#32770", "gleamo", true);
    if (found.size() == 1) dialog_ = found.front();
    return dialog_ != nullptr || !Running();
  });
  return dialog_;
}

void GleamoProcess::PostEndProgram() {
  if (WaitForDialog(5000) != nullptr) PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(ID_END_PROGRAM, 0), 0);
}

bool GleamoProcess::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool GleamoProcess::WaitForExit(DWORD milliseconds, DWORD& exitCode) {
  if (!process_ || WaitForSingleObject(process_.get(), milliseconds) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process_.get(), &exitCode) != 0;
}

std::string GleamoProcess::Output() const {
  std::ifstream file(outputPath_, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

HWND WaitForWindowOf(const GleamoProcess& gleamo, const char* className, const char* caption, DWORD milliseconds) {
  HWND window = nullptr;
  WaitFor(milliseconds, [&] {
    const std::vector<HWND> found = WindowsOfProcess(gleamo.Id(), className, caption);
    window = found.size() == 1 ? found.front() : nullptr;
    return window != nullptr;
  });
  return window;
}

POINT MenuItemCentre(const RECT& menu, int index) {
  return POINT{(menu.left + menu.right) / 2, menu.top + (menu.bottom - menu.top) * (2 * index + 1) / 6};
}

HWND OpenTrayMenu(const GleamoProcess& gleamo, const IconOnScreen& icon) {
  ClickAt(icon.Centre(), true);
  HWND menu = WaitForWindowOf(gleamo, MENU_CLASS, nullptr, 5000);
  MoveMouseAway();  // no item highlighted under the pointer
  return menu;
}
