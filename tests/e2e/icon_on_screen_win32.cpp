#include "tests/e2e/icon_on_screen_win32.h"

#include <map>

#include "tray/icon_raster.h"

namespace {

constexpr int MIN_GLYPH_PIXELS = 6;
constexpr char TOP_LABEL[] = "TAV";  // what the program writes on its icon
constexpr char BOTTOM_LABEL[] = "OLI";

std::uint32_t Packed(Rgb colour) {
  return (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) | colour.blue;
}

// The taskbar's own colour: the one most of its pixels have.
std::uint32_t MostCommonColour(const ScreenShot& shot) {
  std::map<std::uint32_t, int> counts;
  for (const std::uint32_t pixel : shot.pixels) ++counts[pixel];
  std::uint32_t best = 0;
  int bestCount = -1;
  for (const auto& [colour, count] : counts) {
    if (count > bestCount) {
      best = colour;
      bestCount = count;
    }
  }
  return best;
}

bool Overlaps(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

IconSearch FindIcon(const ScreenShot& shot, IconCode code, const char* topLabel, const char* bottomLabel,
                    const std::vector<RECT>& skip, int size) {
  IconSearch search;
  if (shot.Empty()) return search;
  const IconRaster shapes = PaintIconShapes(code, size);
  const IconLayout layout = LayoutFor(size);
  const IconPixelSet glyphArea = LabelGlyphArea(topLabel, bottomLabel, code, size);
  const IconTexts texts = IconTextsOf(topLabel, bottomLabel, code);
  const std::uint32_t glyphColour = Packed(LabelColor(code));
  const std::uint32_t taskbar = MostCommonColour(shot);

  int fewestWrong = size * size + 1;
  for (int top = 0; top + size <= shot.height; ++top) {
    for (int left = 0; left + size <= shot.width; ++left) {
      const RECT place{shot.rect.left + left, shot.rect.top + top, shot.rect.left + left + size,
                       shot.rect.top + top + size};
      bool skipped = false;
      for (const RECT& button : skip) skipped = skipped || Overlaps(place, button);
      if (skipped) continue;

      IconOnScreen candidate{{place.left, place.top}, size};
      int wrong = 0;
      std::string picture;
      for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
          const std::size_t i = static_cast<std::size_t>(y * size + x);
          const std::uint32_t seen = shot.At(left + x, top + y);
          const std::uint32_t modelled = shapes.opaque[i] ? Packed(shapes.color[i]) : taskbar;
          char mark = 'X';
          if (seen == modelled) {
            mark = shapes.opaque[i] ? 'o' : '.';
          } else if (glyphArea[i] && seen == glyphColour) {
            mark = 'g';
            if (y < layout.bottomLabel.top) ++candidate.topGlyphPixels;
            if (y >= layout.topLabel.bottom) ++candidate.bottomGlyphPixels;
          } else {
            ++wrong;
          }
          picture += mark;
        }
        picture += '\n';
      }
      const bool labelsShown = (texts.top.empty() || candidate.topGlyphPixels >= MIN_GLYPH_PIXELS) &&
                               (texts.bottom.empty() || candidate.bottomGlyphPixels >= MIN_GLYPH_PIXELS);
      if (wrong == 0 && labelsShown) search.matches.push_back(candidate);
      if (wrong < fewestWrong) {
        fewestWrong = wrong;
        search.nearestMiss = "nearest place (" + std::to_string(place.left) + "," + std::to_string(place.top) + "), " +
                             std::to_string(wrong) + " pixels wrong:\n" + picture;
      }
    }
  }
  return search;
}

namespace {

BOOL CALLBACK CollectButton(HWND child, LPARAM data) {
  RECT rect{};
  if (IsWindowVisible(child) && GetWindowRect(child, &rect))
    reinterpret_cast<std::vector<RECT>*>(data)->push_back(rect);
  return TRUE;
}

}  // namespace

std::vector<RECT> TaskbarButtons() {
  std::vector<RECT> buttons;
  HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
  if (taskbar != nullptr) EnumChildWindows(taskbar, &CollectButton, reinterpret_cast<LPARAM>(&buttons));
  return buttons;
}

IconSearch WaitForIcon(IconCode code, DWORD milliseconds, int size) {
  IconSearch search;
  WaitFor(milliseconds, [&] {
    search = FindIcon(CaptureScreen(TaskbarRect()), code, TOP_LABEL, BOTTOM_LABEL, TaskbarButtons(), size);
    return search.matches.size() == 1;
  });
  return search;
}

bool WaitUntilIconGone(IconCode code, DWORD milliseconds, int size) {
  return WaitFor(milliseconds, [&] {
    return FindIcon(CaptureScreen(TaskbarRect()), code, TOP_LABEL, BOTTOM_LABEL, TaskbarButtons(), size)
        .matches.empty();
  });
}
