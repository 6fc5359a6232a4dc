// Finds gleamo's 16x16 icon on a screen shot of the taskbar by comparing
// every place with the icon's pixel model: where no label glyph can fall the
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
  int topGlyphPixels = 0;     // in rows 0-6: only the top label can draw there
  int bottomGlyphPixels = 0;  // in rows 9-15: only the bottom text can draw there

  POINT Centre() const { return POINT{topLeft.x + 8, topLeft.y + 8}; }
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
                    const std::vector<RECT>& skip = {});

// The visible child windows of the taskbar (start and task buttons), where
// no tray icon is.
std::vector<RECT> TaskbarButtons();

// Waits until the taskbar shows exactly one such icon, or until the time is
// up; the last search either way.
IconSearch WaitForIcon(IconCode code, DWORD milliseconds);
// Waits until no such icon is shown.
bool WaitUntilIconGone(IconCode code, DWORD milliseconds);
