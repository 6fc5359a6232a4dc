// The GDI painter's cost per style, as a multiple of the least any icon
// costs: CreateIconIndirect of two bitmaps that are already painted, and
// DestroyIcon; each style at 16 px and at 24 px (the notification area at
// 150 %), the larger also as a multiple of the smaller. Measured in one run,
// in interleaved rounds.
//   gleamo_gdi_bench [--rounds N] [--paintings N]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/round_timer.h"
#include "common/win32_handles.h"
#include "tray/activity_icon_win32.h"
#include "tray/icon_raster.h"

namespace {

struct Options {
  int rounds = 7;
  int paintings = 2000;  // per round and case
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--rounds") == 0 && hasValue) {
      options.rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--paintings") == 0 && hasValue) {
      options.paintings = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return options.rounds > 0 && options.paintings > 0;
}

struct PaintCase {
  const char* name;
  IconCode code;
  int size;
};

// Each 24 px case right after its 16 px one.
const PaintCase PAINT_CASES[] = {{"symbol", 13, 16}, {"symbol 24 px", 13, 24}, {"char", 113, 16},
                                 {"char 24 px", 113, 24}, {"bar", 130712, 16}, {"bar 24 px", 130712, 24}};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: gleamo_gdi_bench [--rounds N] [--paintings N]\n");
    return 2;
  }

  // Two ready 16x16 bitmaps, as the painter hands them over.
  const unique_screen_dc screen(GetDC(nullptr));
  const unique_hbitmap color(CreateCompatibleBitmap(screen.get(), ICON_SIZE, ICON_SIZE));
  const unique_hbitmap mask(CreateCompatibleBitmap(screen.get(), ICON_SIZE, ICON_SIZE));
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = color.get();
  info.hbmMask = mask.get();

  bool allPainted = true;
  auto bareIcon = [&] {
    HICON icon = CreateIconIndirect(&info);
    if (icon == nullptr) allPainted = false;
    DestroyIcon(icon);
  };

  const std::size_t caseCount = sizeof PAINT_CASES / sizeof PAINT_CASES[0];
  std::vector<double> bare;
  std::vector<std::vector<double>> painted(caseCount);
  for (std::size_t c = 0; c < caseCount; ++c) {  // warm the platform's caches (fonts above all)
    const CActivityIcon warmUp("TAV", "OLI", PAINT_CASES[c].code, PAINT_CASES[c].size);
  }
  for (int round = 0; round < options.rounds; ++round) {
    bare.push_back(RoundNanoseconds(static_cast<std::size_t>(options.paintings), bareIcon));
    for (std::size_t c = 0; c < caseCount; ++c) {
      const IconCode code = PAINT_CASES[c].code;
      const int size = PAINT_CASES[c].size;
      painted[c].push_back(RoundNanoseconds(static_cast<std::size_t>(options.paintings), [&] {
        const CActivityIcon icon("TAV", "OLI", code, size);
        if (icon.GetIcon() == nullptr) allPainted = false;
      }));
    }
  }

  const double floor = Median(bare);
  std::printf("GDI painter under this platform, median of %d rounds of %d calls:\n", options.rounds, options.paintings);
  std::printf("  %-34s %10.2f us\n", "bare CreateIconIndirect+DestroyIcon", floor / 1000);
  for (std::size_t c = 0; c < caseCount; ++c) {
    const double nanoseconds = Median(painted[c]);
    std::printf("  %-34s %10.2f us %8.2f times the bare icon", PAINT_CASES[c].name, nanoseconds / 1000,
                floor > 0 ? nanoseconds / floor : 0.0);
    const double smaller = c > 0 && PAINT_CASES[c].size != ICON_SIZE ? Median(painted[c - 1]) : 0;
    if (smaller > 0) std::printf(" %6.2f times its 16 px painting", nanoseconds / smaller);
    std::printf("\n");
  }
  if (!allPainted) {
    std::printf("a painting or the bare icon made no icon\n");
    return 1;
  }
  std::printf("every style painted\n");
  return 0;
}
