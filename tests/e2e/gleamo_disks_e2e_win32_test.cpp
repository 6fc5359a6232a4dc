// The real gleamo.exe in the Wine prefix whose WMI serves disk counters
// (tools/wine_disks): its lamp lights up on the taskbar as scripted counters
// climb, and as the host's own disks work. Judged only by the screen.
#include <windows.h>

#include <gtest/gtest.h>
#include <wbemidl.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/desktop_win32.h"
#include "tests/e2e/gleamo_process_win32.h"
#include "tests/e2e/icon_on_screen_win32.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD ICON_WAIT_MS = 15000;  // a process start and the connection under Wine take seconds
constexpr DWORD CHANGE_WAIT_MS = 6000;
constexpr std::uint64_t TWO_TO_32 = 4294967296u;

// Whose WMI answers here: Wine's own opens root\cimv2, the disk provider
// knows root\WMI alone. Empty when it is the provider.
std::string ProviderProblem() {
  if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) < 0) return "no COM";
  std::string problem;
  {
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    BSTR cimv2 = SysAllocString(L"root\\cimv2");
    if (CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                         reinterpret_cast<void**>(locator.GetAddressOf())) != S_OK) {
      problem = "no WMI locator";
    } else if (locator->ConnectServer(cimv2, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services) !=
               static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE)) {
      problem = "this prefix has Wine's own WMI, not the disk provider (scripts/wine-disks.sh PREFIX)";
    }
    SysFreeString(cimv2);
  }
  CoUninitialize();
  return problem;
}

class WineDesktopWithDisks : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(JoinWineDesktop(), "");
    ASSERT_EQ(ProviderProblem(), "");
    MoveMouseAway();
  }
};

const auto* const wineDesktop = ::testing::AddGlobalTestEnvironment(new WineDesktopWithDisks);

testing::AssertionResult ShowsOneIcon(const IconSearch& search, IconCode code) {
  if (search.matches.size() == 1) return testing::AssertionSuccess();
  return testing::AssertionFailure() << search.matches.size() << " places on the taskbar show the icon of code " << code
                                     << " (one expected); " << search.nearestMiss;
}

struct Disk {
  std::string name;
  std::uint64_t reads;
  std::uint64_t writes;
};

// The counter file gleamo's provider reads on every poll, named to gleamo
// through GLEAMO_DISKS and moved on by a thread of its own: every beat it
// adds the current steps to the counters of every disk. A beat longer than
// three of gleamo's ticks puts at most one step into any tick, so every
// step is as large as the largest yet and fills its bar. Each phase of a
// test takes a larger step than the last, so that two steps caught in one
// late tick of a loaded machine cannot spoil the next phase.
class ScriptedDisks {
 public:
  explicit ScriptedDisks(std::vector<Disk> disks, DWORD beatMs) : disks_(std::move(disks)), beatMs_(beatMs) {
    char directory[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    GetTempFileNameA(directory, "dsk", 0, file);
    path_ = file;
    Write();
    SetEnvironmentVariableA("GLEAMO_DISKS", path_.c_str());  // gleamo inherits it
    beat_ = std::thread([this] {
      while (!stop_) {
        Sleep(beatMs_);
        const std::lock_guard<std::mutex> lock(mutex_);
        for (Disk& disk : disks_) {
          disk.reads += readStep_;
          disk.writes += writeStep_;
        }
        Write();
        ++beats_;
      }
    });
  }
  ~ScriptedDisks() {
    stop_ = true;
    beat_.join();
    SetEnvironmentVariableA("GLEAMO_DISKS", nullptr);
    DeleteFileA(path_.c_str());
  }
  ScriptedDisks(const ScriptedDisks&) = delete;
  ScriptedDisks& operator=(const ScriptedDisks&) = delete;

  void Steps(std::uint64_t reads, std::uint64_t writes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    readStep_ = reads;
    writeStep_ = writes;
  }
  // Lines for the provider to get wrong (tools/wine_disks/disk_list.h),
  // written at once; empty for none.
  void Faults(const std::string& lines) {
    const std::lock_guard<std::mutex> lock(mutex_);
    faults_ = lines;
    Write();
  }
  // Leaves the last disk out of the file, or puts it back.
  void HideLastDisk(bool hidden) {
    const std::lock_guard<std::mutex> lock(mutex_);
    lastHidden_ = hidden;
    Write();
  }
  std::uint64_t Reads(std::size_t disk) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return disks_[disk].reads;
  }
  // Waits for a few beats to have gone by.
  void AwaitBeats(int count) const {
    const int until = beats_ + count;
    WaitFor(beatMs_ * (count + 2), [&] { return beats_ >= until; });
  }

 private:
  // Whole or not at all: a poll never reads half a file.
  void Write() const {
    const std::string next = path_ + ".new";
    {
      std::ofstream out(next, std::ios::binary | std::ios::trunc);
      const std::size_t shown = lastHidden_ ? disks_.size() - 1 : disks_.size();
      for (std::size_t i = 0; i < shown; ++i) {
        out << disks_[i].name << ' ' << disks_[i].reads << ' ' << disks_[i].writes << '\n';
      }
      out << faults_;
    }
    MoveFileExA(next.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
  }

  std::string path_;
  std::mutex mutex_;
  std::vector<Disk> disks_;
  std::uint64_t readStep_ = 0;
  std::uint64_t writeStep_ = 0;
  bool lastHidden_ = false;
  std::string faults_;
  const DWORD beatMs_;
  std::atomic<int> beats_{0};
  std::atomic<bool> stop_{false};
  std::thread beat_;
};

constexpr DWORD BAR_BEAT_MS = 1000;
constexpr std::uint64_t STEP = 300;
// Bar codes of the default blue: 13, then the read and write heights.
constexpr IconCode BAR_IDLE = 130000;
constexpr IconCode BAR_READS_FULL = 131500;
constexpr IconCode BAR_WRITES_FULL = 130015;

TEST(GleamoDisks, BarsFollowTheScriptedCounters) {
  // The reads start just below 2^32, so the climb passes it.
  ScriptedDisks disks({{"sda", TWO_TO_32 - 2 * STEP - STEP / 2, 1000}, {"sdb", 7000000, 3000000}}, BAR_BEAT_MS);
  GleamoProcess gleamo("");
  ASSERT_EQ(gleamo.StartError(), "");
  ASSERT_TRUE(ShowsOneIcon(WaitForIcon(BAR_IDLE, ICON_WAIT_MS), BAR_IDLE)) << "no idle icon before any change";

  // Reads climb steadily: full read bars, no write bar.
  disks.Steps(STEP, 0);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(BAR_READS_FULL, CHANGE_WAIT_MS), BAR_READS_FULL));
  // On past 2^32, where the 32-bit counter wraps: the wrap is no huge
  // step, so the next larger steps fill the bar again.
  WaitFor(CHANGE_WAIT_MS, [&] { return disks.Reads(0) > TWO_TO_32; });
  ASSERT_GT(disks.Reads(0), TWO_TO_32);
  disks.AwaitBeats(1);
  disks.Steps(10 * STEP, 0);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(BAR_READS_FULL, CHANGE_WAIT_MS), BAR_READS_FULL))
      << "the read bar did not fill after the counter passed 2^32";

  // Writes alone.
  disks.Steps(0, STEP);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(BAR_WRITES_FULL, CHANGE_WAIT_MS), BAR_WRITES_FULL));

  // Nothing: the bars go and stay gone.
  disks.Steps(0, 0);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(BAR_IDLE, CHANGE_WAIT_MS), BAR_IDLE));
  disks.AwaitBeats(1);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(BAR_IDLE, 0), BAR_IDLE)) << "bars without any change";

  // A disk leaves for a few polls and comes back: a climb afterwards still
  // fills the bar, so the scale did not take the departure for activity.
  disks.HideLastDisk(true);
  disks.AwaitBeats(1);
  disks.HideLastDisk(false);
  disks.AwaitBeats(1);
  disks.Steps(100 * STEP, 0);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(BAR_READS_FULL, CHANGE_WAIT_MS), BAR_READS_FULL))
      << "after a disk left and came back, a steady climb no longer fills the read bar";
}

struct StyleLook {
  const char* options;
  IconCode idle;
  IconCode active;
};

void PrintTo(const StyleLook& look, std::ostream* out) {
  *out << "options \"" << look.options << "\"";
}

// Symbol and char styles show activity by colour: any change of the totals
// between two ticks. A fast beat changes them at every tick.
class StyleColours : public ::testing::TestWithParam<StyleLook> {};

TEST_P(StyleColours, SwitchBetweenIdleAndActiveAsTheCountersMove) {
  const StyleLook look = GetParam();
  ScriptedDisks disks({{"sda", 5000, 6000}}, 100);
  GleamoProcess gleamo(look.options);
  ASSERT_EQ(gleamo.StartError(), "");
  ASSERT_TRUE(ShowsOneIcon(WaitForIcon(look.idle, ICON_WAIT_MS), look.idle));

  disks.Steps(1, 0);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(look.active, CHANGE_WAIT_MS), look.active));
  disks.Steps(0, 0);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(look.idle, CHANGE_WAIT_MS), look.idle));
  disks.AwaitBeats(10);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(look.idle, 0), look.idle)) << "active without any change";
  disks.Steps(0, 1);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(look.active, CHANGE_WAIT_MS), look.active));
}

INSTANTIATE_TEST_SUITE_P(GleamoDisks, StyleColours,
                         ::testing::Values(StyleLook{"-s -g", 10, 12}, StyleLook{"-c -r", 110, 111}),
                         [](const auto& info) { return info.param.idle == 10 ? "symbol" : "char"; });

// The read bar's height on the taskbar's bar icon of the default blue with
// no write bar: 0 for the idle bars, -1 when no such icon shows.
int ShownReadHeight() {
  const ScreenShot shot = CaptureScreen(TaskbarRect());
  const std::vector<RECT> buttons = TaskbarButtons();
  for (int height = 0; height <= 15; ++height) {
    if (height == 1) continue;  // never drawn
    if (FindIcon(shot, BAR_IDLE + height * 100, "TAV", "OLI", buttons).matches.size() == 1) return height;
  }
  return -1;
}

// How many lines of the output begin with the text.
long LinesStartingWith(const std::string& output, const std::string& start) {
  long count = 0;
  std::size_t at = 0;
  while (at < output.size()) {
    if (output.compare(at, start.size(), start) == 0) ++count;
    const std::size_t end = output.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return count;
}

// Everything the program printed, once "end program" has ended it: its C
// runtime holds back what it writes to a file until then.
std::string OutputAtEnd(GleamoProcess& gleamo) {
  gleamo.PostEndProgram();
  DWORD exitCode = 12345;
  if (!gleamo.WaitForExit(10000, exitCode)) return "(gleamo did not end)";
  return gleamo.Output();
}

constexpr char TOOLTIP[] = "Tavoli by Norvath";
constexpr char TOOLTIP_WITHOUT_WMI[] = "Tavoli by Norvath\nno disk counters: WMI unavailable";
constexpr char RPC_E_DISCONNECTED_LINE[] = "fail-enum 0x80010108\n";

// The WMI service stops under a lit lamp (an update, a repair): every poll
// fails on the dead connection. The lamp goes idle and says why, and when
// WMI answers again it lights again, without the work it missed showing as
// one burst. A beat faster than the ticks keeps the bars up at every tick.
TEST(GleamoWmiAway, ALostWmiShowsIdleAndWhyThenTheLampComesBackWithoutABurst) {
  ScriptedDisks disks({{"sda", 5000000, 1000}}, 100);
  GleamoProcess gleamo("");
  ASSERT_EQ(gleamo.StartError(), "");
  const IconSearch first = WaitForIcon(BAR_IDLE, ICON_WAIT_MS);
  ASSERT_TRUE(ShowsOneIcon(first, BAR_IDLE));
  const POINT iconCentre = first.matches.front().Centre();  // whatever the icon shows, it stays there
  const ShownTooltip usual = HoverForTooltip(iconCentre, 3000);
  EXPECT_EQ(usual.text, TOOLTIP);
  disks.Steps(STEP, 0);
  int height = -1;
  ASSERT_TRUE(WaitFor(CHANGE_WAIT_MS, [&] { return (height = ShownReadHeight()) >= 4; })) << "height " << height;

  disks.Faults(RPC_E_DISCONNECTED_LINE);
  ASSERT_TRUE(ShowsOneIcon(WaitForIcon(BAR_IDLE, 2500), BAR_IDLE)) << "the lamp kept its bars with WMI gone";
  const ShownTooltip away = HoverForTooltip(iconCentre, 3000);
  EXPECT_EQ(away.text, TOOLTIP_WITHOUT_WMI);
  EXPECT_GT(away.rect.bottom - away.rect.top, usual.rect.bottom - usual.rect.top) << "no second line shows";
  disks.AwaitBeats(5);
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(BAR_IDLE, 0), BAR_IDLE)) << "bars while WMI is gone";

  // Back. Had the polls missed counted as one tick's work, that tick would
  // set the bars' maximum for good, and every tick after it would show only
  // the least bar, 2.
  disks.Faults("");
  ASSERT_TRUE(WaitFor(15000, [&] { return ShownReadHeight() >= 4; })) << "the lamp did not light again";
  disks.AwaitBeats(10);
  EXPECT_TRUE(WaitFor(3000, [&] { return (height = ShownReadHeight()) >= 4; }))
      << "only low bars after WMI came back: the gap counted as one tick (height " << height << ")";
  EXPECT_EQ(HoverForTooltip(iconCentre, 3000).text, TOOLTIP);
  const std::string output = OutputAtEnd(gleamo);
  EXPECT_GE(LinesStartingWith(output, "Can't enumerate DiskPerf instances!"), 3) << output;
  EXPECT_GE(LinesStartingWith(output, "Connected with "), 2) << output;
}

// Started from the Startup folder before the WMI service answers: the
// first connections are refused, and the lamp works once one succeeds.
TEST(GleamoWmiAway, RefusedConnectionsAtLogonAreTriedAgain) {
  ScriptedDisks disks({{"sda", 5000, 6000}}, 100);
  disks.Faults("refuse-connect 3\n");
  disks.Steps(1, 0);
  GleamoProcess gleamo("-s -g");
  ASSERT_EQ(gleamo.StartError(), "");
  // Tried after 1 s, 2 s and 4 s: the fourth connection comes about 7 s on.
  EXPECT_TRUE(ShowsOneIcon(WaitForIcon(12, ICON_WAIT_MS + 10000), 12)) << "the lamp never lit";
  const std::string output = OutputAtEnd(gleamo);
  EXPECT_EQ(LinesStartingWith(output, "Connecting to "), 4) << output;
  EXPECT_EQ(LinesStartingWith(output, "Failed to connect with "), 3) << output;
  EXPECT_EQ(LinesStartingWith(output, "Connected with "), 1) << output;
}

// WMI stops answering: the program's one thread waits in the poll, but
// only seconds at a time, so its menu opens and "end program" ends it.
TEST(GleamoWmiAway, AStalledWmiLeavesTheMenuAndEndProgramWorking) {
  ScriptedDisks disks({{"sda", 5000, 6000}}, BAR_BEAT_MS);
  GleamoProcess gleamo("");
  ASSERT_EQ(gleamo.StartError(), "");
  const IconSearch icon = WaitForIcon(BAR_IDLE, ICON_WAIT_MS);
  ASSERT_TRUE(ShowsOneIcon(icon, BAR_IDLE));
  disks.Faults("stall-next 60000\n");
  Sleep(1000);  // well into a stalled poll

  const DWORD clicked = GetTickCount();
  const HWND menu = OpenTrayMenu(gleamo, icon.matches.front());
  ASSERT_NE(menu, nullptr) << "no menu within 5 s while WMI stalls";
  RECT menuRect{};
  GetWindowRect(menu, &menuRect);
  ClickAt(MenuItemCentre(menuRect, 2), false);
  MoveMouseAway();
  DWORD exitCode = 12345;
  EXPECT_TRUE(gleamo.WaitForExit(8000, exitCode)) << "\"end program\" did not end the program";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_LT(GetTickCount() - clicked, 10000u);
}

// Whether Wine shows a whole physical disk: /sys/block/NAME/device.
bool HostDiskVisible() {
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA("Z:\\sys\\block\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool visible = false;
  do {
    const std::string device = std::string("Z:\\sys\\block\\") + found.cFileName + "\\device";
    visible = visible || (found.cFileName[0] != '.' && GetFileAttributesA(device.c_str()) != INVALID_FILE_ATTRIBUTES);
  } while (!visible && FindNextFileA(search, &found));
  FindClose(search);
  return visible;
}

TEST(GleamoDisks, HostDisksLightTheLampWhileAFileIsWrittenAndSynced) {
  if (!HostDiskVisible()) GTEST_SKIP() << "no physical disk visible here (a container without /sys/block devices)";
  SetEnvironmentVariableA("GLEAMO_DISKS", nullptr);
  constexpr IconCode ACTIVE = 16;  // turquoise
  GleamoProcess gleamo("-s -t");
  ASSERT_EQ(gleamo.StartError(), "");
  ASSERT_NE(gleamo.WaitForDialog(ICON_WAIT_MS), nullptr);

  // Beside this program, in the build tree, which lies on a real disk.
  const std::string scratch = BuiltProgramPath("gleamo-disk-burst.tmp");
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    const std::vector<char> block(256 * 1024, 'g');
    while (writing) {
      const HANDLE file =
          CreateFileA(scratch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) break;
      DWORD written = 0;
      WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
      FlushFileBuffers(file);
      CloseHandle(file);
      Sleep(50);
    }
  });
  const IconSearch lit = WaitForIcon(ACTIVE, 5000);
  writing = false;
  writer.join();
  DeleteFileA(scratch.c_str());
  EXPECT_TRUE(ShowsOneIcon(lit, ACTIVE)) << "the lamp stayed dark while a file was written and synced";
}

}  // namespace
