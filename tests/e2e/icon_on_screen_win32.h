// Finds gleamo's icon, 16x16 or of another size, on a screen shot of the
// taskbar by comparing every place with the icon's pixel model of that size: where no label glyph can fall the
// screen must show exactly the model's shapes (the taskbar itself where the
// icon is see-through); inside the labels' rectangles each pixel shows either
// that or a glyph in the label colour, since the platform's face draws the
// glyphs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/gleamo_types.h"
#include "tests/e2e/desktop_win32.h"

struct IconOnScreen {
  POINT topLeft{};            // screen coordinates
  int size = 16;              // pixels on each side
  int topGlyphPixels = 0;     // above the bottom text's rectangle (rows 0-6 at 16 px)
  int bottomGlyphPixels = 0;  // below the top label's rectangle (rows 9-15 at 16 px)

  POINT Centre() const { return POINT{topLeft.x + size / 2, topLeft.y + size / 2}; }
};

struct IconSearch {
  std::vector<IconOnScreen> matches;
  // The place that came nearest, drawn for a failure message:
  // '.' the taskbar, 'o' an opaque model pixel, 'g' a glyph, 'X' wrong.
  std::string nearestMiss;
};

// Looks at every place on the shot but over the rectangles to skip (the
// taskbar's buttons). Places whose texts show too few glyph pixels do not
// count: an icon with labels has some in both text rows.
IconSearch FindIcon(const ScreenShot& shot, IconCode code, const char* topLabel, const char* bottomLabel,
                    const std::vector<RECT>& skip = {}, int size = 16);

// The visible child windows of the taskbar (start and task buttons), where
// no tray icon is.
std::vector<RECT> TaskbarButtons();

// Waits until the taskbar shows exactly one such icon of this size, or until
// the time is up; the last search either way.
IconSearch WaitForIcon(IconCode code, DWORD milliseconds, int size = 16);
// Waits until no such icon is shown.
bool WaitUntilIconGone(IconCode code, DWORD milliseconds, int size = 16);
