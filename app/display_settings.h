// The settings a run is started with, read once from the command line.
#pragma once

#include "common/gleamo_types.h"

struct DisplaySettings {
  // Exactly one style flag is set at every moment.
  bool barIcon = true;
  bool charIcon = false;
  bool symbolIcon = false;
  ColorCode color = COLOR_BLUE;  // always 11 to 18
  bool fastBlink = false;        // poll every 150 ms instead of 300 ms
};

// The process-wide settings: written by ParseCommandLine at start, read-only after.
extern DisplaySettings displaySettings;

// Reads single-letter options after '-' or '/' (either case) from the narrow
// argument string, without the program's name; null and empty are allowed.
// Applies them in order, so the last style and the last colour win. Unknown
// letters and stray bytes are ignored.
void ParseCommandLine(const char* arguments, DisplaySettings& settings);

// The text of the usage box.
extern const char USAGE_TEXT[];
