// The tray holder through ten thousand rebuilds, as a busy day of ticks makes
// them: every style, colour and bar height in turn, labels changing now and
// then, each picture handed to a stand-in shell. A holder that leaks one
// object per rebuild, hands the shell a stale or dead picture, or drifts off
// the model over time fails here.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/tray/fake_shell_win32.h"
#include "tests/tray/icon_model_win32.h"
#include "tests/tray/icon_pixels_win32.h"
#include "tray/tray_indicator_win32.h"

namespace {

constexpr int REBUILDS = 10000;
constexpr UINT CALLBACK_MESSAGE = 1032;

unique_hwnd MakeOwner() {
  return unique_hwnd(CreateWindowExA(0, "STATIC", "soak owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr));
}

// Rebuild i's code: two bar codes for every char and symbol code, as the
// default style makes most; colours, idle states and heights 0-15 all occur.
IconCode CodeOfRebuild(int i) {
  const int colour = COLOR_RED + (i / 4) % 8;
  switch (i % 4) {
    case 0:
    case 1: return colour * 10000 + (i * 7) % 16 * 100 + (i * 11) % 16;
    case 2: return (i / 4) % 3 == 0 ? 110 : colour + 100;
    default: return (i / 4) % 3 == 0 ? 10 : colour;
  }
}

struct Labels {
  const char* top;
  const char* bottom;
};
const Labels LABELS[] = {{"TAV", "OLI"}, {"C:", "D:"}, {"", ""}, {"WXYZ", "ABC"}, {"9999", "999"}};
constexpr int LABEL_PERIOD = 500;  // rebuilds between label changes

// Bytes in use in all heaps of the process, as the heaps themselves count them.
std::size_t HeapBytesInUse() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  std::size_t inUse = 0;
  for (DWORD h = 0; h < count && h < 64; ++h) {
    if (!HeapLock(heaps[h])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[h], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) inUse += entry.cbData;
    }
    HeapUnlock(heaps[h]);
  }
  return inUse;
}

TEST(CTrayIndicatorSoak, TenThousandRebuildsKeepThePictureRightAndLeaveNothingBehind) {
  FakeShell shell;
  const unique_hwnd owner = MakeOwner();
  {  // the platform's caches (fonts, the hidden window's class) come to stay
    CTrayIndicator warmUp(GetModuleHandleA(nullptr), owner.get(), CALLBACK_MESSAGE, "TAV", "OLI", 130712, "tip");
    for (int i = 0; i < 8; ++i) warmUp.ReplaceIcon(CodeOfRebuild(i), "tip");
  }
  shell.calls.clear();
  const int headroomBefore = GdiHeadroom();
  const auto start = std::chrono::steady_clock::now();

  int headroomSettled = 0;
  std::size_t bytesSettled = 0;
  {
    CTrayIndicator holder(GetModuleHandleA(nullptr), owner.get(), CALLBACK_MESSAGE, LABELS[0].top, LABELS[0].bottom,
                          CodeOfRebuild(0), "Tavoli by Norvath");
    ASSERT_EQ(shell.Count(NIM_ADD), 1);
    shell.calls.clear();

    for (int i = 1; i <= REBUILDS; ++i) {
      if (i % LABEL_PERIOD == 0) {
        const Labels& labels = LABELS[i / LABEL_PERIOD % (sizeof LABELS / sizeof LABELS[0])];
        holder.SetLabels(labels.top, labels.bottom);
      }
      const HICON replaced = holder.CurrentIcon()->GetIcon();
      const IconCode code = CodeOfRebuild(i);
      const std::string tip = "rebuild " + std::to_string(i);
      holder.ReplaceIcon(code, tip.c_str());

      // Every rebuild: one tip change, then the new picture, alive and shown.
      const HICON shown = holder.CurrentIcon()->GetIcon();
      ASSERT_NE(shown, nullptr) << "rebuild " << i << " painted no icon";
      ASSERT_EQ(shell.Count(), 2) << "rebuild " << i;
      ASSERT_STREQ(shell.calls[0].data.szTip, tip.c_str());
      ASSERT_EQ(shell.calls[1].data.uFlags, static_cast<UINT>(NIF_ICON)) << "rebuild " << i;
      ASSERT_EQ(shell.calls[1].data.hIcon, shown) << "rebuild " << i << " showed another picture";
      shell.calls.clear();
      if (i % 250 == 0) {
        ASSERT_FALSE(IconAlive(replaced)) << "rebuild " << i << " kept the replaced picture";
      }

      if (i == REBUILDS / 10) {
        headroomSettled = GdiHeadroom();
        bytesSettled = HeapBytesInUse();
      }
      // The last rebuilds cover every style: each picture as the model has it.
      if (i > REBUILDS - 4) {
        IconRaster painted;
        ASSERT_TRUE(ReadIconRaster(shown, painted));
        EXPECT_TRUE(MatchesModel(painted, holder.TopLabel(), holder.BottomLabel(), code)) << "rebuild " << i;
      }
    }

    EXPECT_EQ(GdiHeadroom(), headroomSettled) << "GDI objects piled up while the holder rebuilt";
    const std::size_t bytesEnd = HeapBytesInUse();
    ASSERT_NE(bytesSettled, 0u) << "the platform reports no memory use";
    // One small block kept per rebuild would pass this mark many times over.
    EXPECT_LT(bytesEnd, bytesSettled + 16 * 1024) << "memory grew from " << bytesSettled << " to " << bytesEnd
                                                  << " bytes over " << REBUILDS * 9 / 10 << " rebuilds";
    std::printf("%d rebuilds in %.1f s; heaps hold %zu KiB after %d rebuilds, %zu KiB at the end\n", REBUILDS,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), bytesSettled / 1024,
                REBUILDS / 10, bytesEnd / 1024);
  }
  EXPECT_EQ(shell.Count(NIM_DELETE), 1);
  EXPECT_EQ(GdiHeadroom(), headroomBefore) << "GDI objects left behind after the holder was gone";
}

}  // namespace
