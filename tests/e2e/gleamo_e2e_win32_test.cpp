// The real gleamo.exe on the taskbar of a Wine desktop: what its icon looks
// like, its menu and commands, a shell restart and what it prints. Each test
// starts the program as a user would and looks only at what the platform
// shows: the screen's pixels, the windows of the process, its exit code and
// its standard output.
#include <windows.h>

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numeric>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/display_settings.h"
#include "res/resource.h"
#include "tests/e2e/desktop_win32.h"
#include "tests/e2e/gleamo_process_win32.h"
#include "tests/e2e/icon_on_screen_win32.h"

namespace {

constexpr DWORD ICON_WAIT_MS = 15000;  // a process start and the connection under Wine take seconds
constexpr DWORD EXIT_WAIT_MS = 10000;

class WineDesktop : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string problem = JoinWineDesktop();
    ASSERT_EQ(problem, "");
    MoveMouseAway();
  }
};

const auto* const wineDesktop = ::testing::AddGlobalTestEnvironment(new WineDesktop);

testing::AssertionResult ShowsOneIcon(const IconSearch& search, IconCode code) {
  if (search.matches.size() == 1) return testing::AssertionSuccess();
  return testing::AssertionFailure() << search.matches.size() << " places on the taskbar show the icon of code " << code
                                     << " (one expected); " << search.nearestMiss;
}

// Ends the program with its own command and checks that it leaves as it
// should: exit code 0 and no icon left behind.
void EndAndExpectCleanExit(GleamoProcess& gleamo, IconCode code) {
  gleamo.PostEndProgram();
  DWORD exitCode = 12345;
  ASSERT_TRUE(gleamo.WaitForExit(EXIT_WAIT_MS, exitCode)) << "gleamo did not end";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_TRUE(WaitUntilIconGone(code, 3000)) << "the icon stayed after the program ended";
}

// What another process does when the shell restarts: the old icon is gone
// (deleted here under the program's own window and identifier 0), and the
// new taskbar announces itself to every top-level window.
bool DeleteIconOf(HWND owner) {
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = 0;
  return Shell_NotifyIconA(NIM_DELETE, &data) != 0;
}

void BroadcastTaskbarCreated() {
  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG, 3000, &ignored);
}

// A screen shot of a popup menu once it has painted itself: two shots in a
// row that agree.
ScreenShot MenuShot(HWND menuWindow) {
  ScreenShot shot;
  WaitFor(3000, [&] {
    RECT rect{};
    GetWindowRect(menuWindow, &rect);
    Sleep(150);
    ScreenShot next = CaptureScreen(rect);
    const bool settled =
        !next.Empty() && next.width == shot.width && next.height == shot.height && next.pixels == shot.pixels;
    shot = std::move(next);
    return settled;
  });
  return shot;
}

// Shows, in this process, a popup menu with the three items the program's
// menu should have, at the given place, and takes its picture: drawn by the
// same platform with the same fonts, it must look exactly like the
// program's.
ScreenShot ExpectedMenuShot(POINT topLeft) {
  const unique_hwnd owner(
      CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
  const unique_hmenu menu(CreatePopupMenu());
  AppendMenuA(menu.get(), MF_STRING, ID_HELP, "help");
  AppendMenuA(menu.get(), MF_STRING, ID_MEET_AUTHOR, "meet author");
  AppendMenuA(menu.get(), MF_STRING, ID_END_PROGRAM, "end program");

  ScreenShot shot;
  HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
  std::thread photographer([&] {
    SetThreadDesktop(desktop);
    HWND shown = nullptr;
    WaitFor(5000, [&] {
      const std::vector<HWND> found = WindowsOfProcess(GetCurrentProcessId(), MENU_CLASS, nullptr);
      shown = found.size() == 1 ? found.front() : nullptr;
      return shown != nullptr;
    });
    if (shown == nullptr) return;
    shot = MenuShot(shown);
    PostMessageA(shown, WM_CANCELMODE, 0, 0);  // what EndMenu does
  });
  TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD, topLeft.x, topLeft.y, 0, owner.get(),
                 nullptr);
  photographer.join();
  return shot;
}

testing::AssertionResult SamePicture(const ScreenShot& expected, const ScreenShot& actual) {
  if (expected.Empty() || actual.Empty()) return testing::AssertionFailure() << "no picture of a menu";
  if (expected.width != actual.width || expected.height != actual.height) {
    return testing::AssertionFailure() << "the menu is " << actual.width << "x" << actual.height << ", expected "
                                       << expected.width << "x" << expected.height;
  }
  const auto differing = std::inner_product(expected.pixels.begin(), expected.pixels.end(), actual.pixels.begin(), 0,
                                            std::plus<>(), std::not_equal_to<>());
  if (differing == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure() << differing << " pixels of the menu differ from the expected menu";
}

struct IdleLook {
  const char* options;
  IconCode code;
};

void PrintTo(const IdleLook& look, std::ostream* out) {
  *out << "options \"" << look.options << "\", code " << look.code;
}

// Wine reports no disk instances, so the program stays idle: the bar style
// shows its base line and labels in its colour and no bars, the char style
// the near-white square, the symbol style the dark-grey cylinder on black.
class IdleIcon : public ::testing::TestWithParam<IdleLook> {};

TEST_P(IdleIcon, IsShownOnTheTaskbarAndGoesWithTheProgram) {
  const IdleLook look = GetParam();
  GleamoProcess gleamo(look.options);
  ASSERT_EQ(gleamo.StartError(), "");
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(look.code, ICON_WAIT_MS), look.code));
  EndAndExpectCleanExit(gleamo, look.code);
}

INSTANTIATE_TEST_SUITE_P(Gleamo, IdleIcon,
                         ::testing::Values(IdleLook{"-a -r", 110000}, IdleLook{"-a -k", 170000}, IdleLook{"-c -g", 110},
                                           IdleLook{"-s -y", 10}, IdleLook{"", 130000}),
                         [](const auto& info) {
                           std::string name = info.param.options[0] ? info.param.options : "none";
                           name.erase(
                               std::remove_if(name.begin(), name.end(), [](char c) { return c == ' ' || c == '-'; }),
                               name.end());
                           return name;
                         });

// Runs a console program of the build tree to its end, with these
// arguments; its exit code, or -1 when it could not be run or did not end in
// time.
long RunToEnd(const std::string& path, const std::string& arguments = "") {
  std::string commandLine = "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return -1;
  }
  const unique_kernel_handle process(started.hProcess);
  CloseHandle(started.hThread);
  DWORD exitCode = 0;
  if (WaitForSingleObject(process.get(), EXIT_WAIT_MS + ICON_WAIT_MS + 5000) != WAIT_OBJECT_0) return -1;
  GetExitCodeProcess(process.get(), &exitCode);
  return static_cast<long>(exitCode);
}

// A Wine desktop of its own at another display scale. Wine takes the DPI
// from HKCU\Control Panel\Desktop\LogPixels when a process starts, so the
// desktop's explorer, its taskbar and the programs started on it while the
// value is set see that DPI; the value is set back when the desktop goes, so
// that the test's own desktop and later processes keep 96. It is one more
// explorer on the wineserver already running, a matter of a second or two.
class ScaledDesktop {
 public:
  explicit ScaledDesktop(DWORD dpi) : name_(WineDesktopName() + "-dpi" + std::to_string(dpi)) {
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    nullptr, &key_, nullptr);
    DWORD valueSize = sizeof savedDpi_;
    hadDpi_ = RegQueryValueExA(key_, LOG_PIXELS, nullptr, nullptr, reinterpret_cast<BYTE*>(&savedDpi_), &valueSize) ==
              ERROR_SUCCESS;
    if (RegSetValueExA(key_, LOG_PIXELS, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi) !=
        ERROR_SUCCESS) {
      startError_ = "cannot set LogPixels";
      return;
    }
    const char* desktopSize = std::getenv("GLEAMO_DESKTOP_SIZE");
    std::string commandLine =
        "explorer.exe /desktop=" + name_ + "," + (desktopSize != nullptr ? desktopSize : "800x600");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
      startError_ = "cannot start " + commandLine;
      return;
    }
    CloseHandle(started.hThread);
    explorer_.reset(started.hProcess);
    if (!WaitFor(15000, [&] {
          HDESK desktop = OpenDesktopA(name_.c_str(), 0, FALSE, GENERIC_ALL);
          if (desktop != nullptr) CloseDesktop(desktop);
          return desktop != nullptr;
        })) {
      startError_ = "no desktop " + name_;
    }
  }
  ~ScaledDesktop() {
    if (hadDpi_) {
      RegSetValueExA(key_, LOG_PIXELS, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&savedDpi_), sizeof savedDpi_);
    } else {
      RegDeleteValueA(key_, LOG_PIXELS);
    }
    RegCloseKey(key_);
    if (explorer_) {
      TerminateProcess(explorer_.get(), 0);  // its X window goes with it
      WaitForSingleObject(explorer_.get(), 5000);
    }
  }
  ScaledDesktop(const ScaledDesktop&) = delete;
  ScaledDesktop& operator=(const ScaledDesktop&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& StartError() const { return startError_; }

 private:
  static constexpr const char* LOG_PIXELS = "LogPixels";
  std::string name_;
  std::string startError_;
  HKEY key_ = nullptr;
  DWORD savedDpi_ = 96;
  bool hadDpi_ = false;
  unique_kernel_handle explorer_;
};

// Names the icon size the child run of this program looks for.
constexpr char SCALED_ICON_SIZE_VARIABLE[] = "GLEAMO_E2E_ICON_SIZE";

// Sets an environment variable for the processes started while it lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    char old[1024] = {};
    const DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
    had_ = length > 0 && length < sizeof old;
    if (had_) old_ = old;
    SetEnvironmentVariableA(name, value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

struct DisplayScale {
  DWORD dpi;
  int iconSize;  // the taskbar's slot: SM_CXSMICON at that DPI
};

void PrintTo(const DisplayScale& scale, std::ostream* out) {
  *out << scale.dpi << " dpi, " << scale.iconSize << " px";
}

// At 125 %, 150 % and 200 % the taskbar gives icons 20, 24 and 32 pixels:
// each style's idle icon must be the model's picture of exactly that size,
// not the 16 px one stretched into the slot. The checks run in a child run
// of this program that joins the scaled desktop as its own (a process that
// has looked at a second Wine desktop gets empty screen shots of its first
// once the second is gone); its output is part of this test's.
class IdleIconAtDisplayScale : public ::testing::TestWithParam<DisplayScale> {};

TEST_P(IdleIconAtDisplayScale, IsPaintedAtTheSizeOfTheTaskbarsSlot) {
  const DisplayScale scale = GetParam();
  const ScaledDesktop desktop(scale.dpi);
  ASSERT_EQ(desktop.StartError(), "");
  const ScopedVariable onDesktop("GLEAMO_WINE_DESKTOP", desktop.Name());
  const ScopedVariable size(SCALED_ICON_SIZE_VARIABLE, std::to_string(scale.iconSize));
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  EXPECT_EQ(RunToEnd(self, "--gtest_filter=OnScaledDesktop.*"), 0)
      << "the icons at " << scale.dpi << " dpi (the child run's output is above)";
}

INSTANTIATE_TEST_SUITE_P(Gleamo, IdleIconAtDisplayScale,
                         ::testing::Values(DisplayScale{120, 20}, DisplayScale{144, 24}, DisplayScale{192, 32}),
                         [](const auto& info) { return std::to_string(info.param.dpi) + "dpi"; });

// The child run: the three styles at once, each program with its own icon,
// on the scaled desktop that GLEAMO_WINE_DESKTOP names.
TEST(OnScaledDesktop, EachStyleShowsTheModelOfTheSlotsSize) {
  const char* sizeText = std::getenv(SCALED_ICON_SIZE_VARIABLE);
  if (sizeText == nullptr) GTEST_SKIP() << "runs only as the child of IdleIconAtDisplayScale";
  const int size = std::atoi(sizeText);
  const IdleLook looks[] = {{"-s", 10}, {"-c", 110}, {"", 130000}};
  std::vector<std::unique_ptr<GleamoProcess>> programs;
  for (const IdleLook& look : looks) {
    programs.push_back(std::make_unique<GleamoProcess>(look.options));
    ASSERT_EQ(programs.back()->StartError(), "");
  }
  for (const IdleLook& look : looks) {
    EXPECT_TRUE(ShowsOneIcon(WaitForIcon(look.code, ICON_WAIT_MS, size), look.code)) << size << " px";
  }
  for (std::size_t i = 0; i < programs.size(); ++i) {
    programs[i]->PostEndProgram();
    DWORD exitCode = 12345;
    EXPECT_TRUE(programs[i]->WaitForExit(EXIT_WAIT_MS, exitCode)) << looks[i].options;
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(WaitUntilIconGone(looks[i].code, 3000, size)) << looks[i].options;
  }
}

TEST(GleamoMenu, HasItsThreeItemsAndHelpAndEndProgramWork) {
  constexpr IconCode code = 120000;
  GleamoProcess gleamo("-g");
  ASSERT_EQ(gleamo.StartError(), "");
  const HWND dialog = gleamo.WaitForDialog(ICON_WAIT_MS);
  ASSERT_NE(dialog, nullptr);
  IconSearch search = WaitForIcon(code, ICON_WAIT_MS);
  ASSERT_TRUE(ShowsOneIcon(search, code));

  // The menu: exactly "help", "meet author", "end program".
  HWND menu = OpenTrayMenu(gleamo, search.matches.front());
  ASSERT_NE(menu, nullptr) << "no menu after a right click on the icon";
  RECT menuRect{};
  GetWindowRect(menu, &menuRect);
  const ScreenShot programMenu = MenuShot(menu);

  // "help": the usage box, while the program goes on serving its icon.
  ClickAt(MenuItemCentre(menuRect, 0), false);
  MoveMouseAway();
  const HWND usage = WaitForWindowOf(gleamo, "#32770", "Usage", 5000);
  ASSERT_NE(usage, nullptr) << "\"help\" opened no box captioned \"Usage\"";
  char text[1024] = {};
  GetDlgItemTextA(usage, 0xFFFF, text, sizeof text);
  EXPECT_STREQ(text, USAGE_TEXT);
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer), 0)
      << "the program does not answer while its usage box is open";
  ASSERT_TRUE(DeleteIconOf(dialog));
  EXPECT_TRUE(WaitUntilIconGone(code, 3000));
  BroadcastTaskbarCreated();
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(code, 5000), code)) << "no icon rebuilt while the usage box is open";
  PostMessageA(usage, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitFor(3000, [&] { return WindowsOfProcess(gleamo.Id(), "#32770", "Usage").empty(); }));

  // The same three items drawn by this process look the same.
  EXPECT_TRUE(SamePicture(ExpectedMenuShot(POINT{menuRect.left, menuRect.top}), programMenu));

  // "end program": the icon goes and the program ends with 0.
  search = WaitForIcon(code, 3000);
  ASSERT_TRUE(ShowsOneIcon(search, code));
  menu = OpenTrayMenu(gleamo, search.matches.front());
  ASSERT_NE(menu, nullptr) << "no menu after a second right click";
  GetWindowRect(menu, &menuRect);
  ClickAt(MenuItemCentre(menuRect, 2), false);
  MoveMouseAway();
  DWORD exitCode = 12345;
  ASSERT_TRUE(gleamo.WaitForExit(EXIT_WAIT_MS, exitCode)) << "\"end program\" did not end the program";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_TRUE(WaitUntilIconGone(code, 3000));
}

// "end program" chosen from the icon's menu while the usage box is still
// open ends the program at once, box and icon with it.
TEST(GleamoMenu, EndProgramWhileTheUsageBoxIsOpenEndsTheProgramPromptly) {
  constexpr IconCode code = 150000;
  GleamoProcess gleamo("-v");
  ASSERT_EQ(gleamo.StartError(), "");
  IconSearch search = WaitForIcon(code, ICON_WAIT_MS);
  ASSERT_TRUE(ShowsOneIcon(search, code));

  HWND menu = OpenTrayMenu(gleamo, search.matches.front());
  ASSERT_NE(menu, nullptr);
  RECT menuRect{};
  GetWindowRect(menu, &menuRect);
  ClickAt(MenuItemCentre(menuRect, 0), false);
  MoveMouseAway();
  HWND usage = WaitForWindowOf(gleamo, "#32770", "Usage", 5000);
  ASSERT_NE(usage, nullptr);
  // As a user would, once the box is up. Under Wine a right click in the
  // first few hundred milliseconds after the box took the foreground opens
  // no menu; a user takes longer than that to reach the icon.
  EXPECT_TRUE(WaitFor(5000, [&] { return GetForegroundWindow() == usage; }));
  Sleep(1000);

  menu = OpenTrayMenu(gleamo, search.matches.front());
  ASSERT_NE(menu, nullptr) << "no menu while the usage box is open";
  GetWindowRect(menu, &menuRect);
  ClickAt(MenuItemCentre(menuRect, 2), false);
  const DWORD chosenAt = GetTickCount();
  MoveMouseAway();
  DWORD exitCode = 12345;
  ASSERT_TRUE(gleamo.WaitForExit(EXIT_WAIT_MS, exitCode)) << "\"end program\" was lost while the usage box was open";
  const DWORD took = GetTickCount() - chosenAt;
  EXPECT_LT(took, 1000u) << "ended only after " << took << " ms";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_TRUE(WaitUntilIconGone(code, 500)) << "the icon stayed";
}

TEST(GleamoShellRestart, BringsTheIconBack) {
  GleamoProcess gleamo("-c -v");
  ASSERT_EQ(gleamo.StartError(), "");
  const HWND dialog = gleamo.WaitForDialog(ICON_WAIT_MS);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(ShowsOneIcon(WaitForIcon(110, ICON_WAIT_MS), 110));

  ASSERT_TRUE(DeleteIconOf(dialog));
  ASSERT_TRUE(WaitUntilIconGone(110, 3000)) << "the shell kept the icon";
  BroadcastTaskbarCreated();
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(110, 5000), 110));

  // Twice in a row: each restart replaces the holder, and the icon of the
  // replaced one does not take the new icon with it.
  ASSERT_TRUE(DeleteIconOf(dialog));
  ASSERT_TRUE(WaitUntilIconGone(110, 3000));
  BroadcastTaskbarCreated();
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(110, 5000), 110));

  EndAndExpectCleanExit(gleamo, 110);
}

// Lines of the program's output without their line ends.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

TEST(GleamoOutput, TellsOnceHowTheConnectionWent) {
  GleamoProcess gleamo("");
  ASSERT_EQ(gleamo.StartError(), "");
  ASSERT_TRUE(ShowsOneIcon(WaitForIcon(130000, ICON_WAIT_MS), 130000));
  Sleep(1000);  // a few more ticks: none may connect again
  EndAndExpectCleanExit(gleamo, 130000);

  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  const std::string machine = std::string("\\\\") + name;
  const std::string output = gleamo.Output();
  const std::vector<std::string> lines = Lines(output);
  ASSERT_GE(lines.size(), 3u) << output;
  // The namespace and its three dots, then one progress dot per 300 ms the
  // connection took.
  const std::string connecting = "Connecting to " + machine + " WMI server at root\\WMI...";
  EXPECT_EQ(lines[0].substr(0, connecting.size()), connecting) << output;
  EXPECT_EQ(lines[0].find_first_not_of('.', connecting.size()), std::string::npos) << output;
  EXPECT_EQ(lines[1], "") << output;
  EXPECT_EQ(lines[2], "Connected with " + machine) << output;
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.find("Connecting") != std::string::npos; }),
            1)
      << output;
}

// The helper that scripts/run.sh ends a display-less run with.
TEST(GleamoEnd, EndsTheRunningProgramAsItsMenuWould) {
  const std::string helper = BuiltProgramPath(GLEAMO_END_FROM_TEST);
  EXPECT_EQ(RunToEnd(helper), 1) << "no gleamo is running yet";

  GleamoProcess gleamo("-s");
  ASSERT_EQ(gleamo.StartError(), "");
  ASSERT_TRUE(ShowsOneIcon(WaitForIcon(10, ICON_WAIT_MS), 10));
  EXPECT_EQ(RunToEnd(helper), 0);
  DWORD exitCode = 12345;
  ASSERT_TRUE(gleamo.WaitForExit(0, exitCode)) << "the helper returned before gleamo ended";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_TRUE(WaitUntilIconGone(10, 3000));
}

}  // namespace
