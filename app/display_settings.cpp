#include "app/display_settings.h"

DisplaySettings displaySettings;

const char USAGE_TEXT[] =
    "Usage:\n\n-a bar icon\n-c char icon\n-s symbol icon\n\n-w white\n-k black\n-y yellow\n"
    "-g green\n-t turquois\n-b blue\n-r red\n-v violet\n\n-f fast blink\n\n"
    "example(default):\ngleamo.exe -a -b\n = blue bar icon";

namespace {

void SelectStyle(DisplaySettings& settings, bool bar, bool chars, bool symbol) {
  settings.barIcon = bar;
  settings.charIcon = chars;
  settings.symbolIcon = symbol;
}

void ApplyOption(char letter, DisplaySettings& settings) {
  switch (letter) {
    case 'a': case 'A': SelectStyle(settings, true, false, false); break;
    case 'c': case 'C': SelectStyle(settings, false, true, false); break;
    case 's': case 'S': SelectStyle(settings, false, false, true); break;
    case 'r': case 'R': settings.color = COLOR_RED; break;
    case 'g': case 'G': settings.color = COLOR_GREEN; break;
    case 'b': case 'B': settings.color = COLOR_BLUE; break;
    case 'y': case 'Y': settings.color = COLOR_YELLOW; break;
    case 'v': case 'V': settings.color = COLOR_VIOLET; break;
    case 't': case 'T': settings.color = COLOR_TURQUOISE; break;
    case 'k': case 'K': settings.color = COLOR_BLACK; break;
    case 'w': case 'W': settings.color = COLOR_WHITE; break;
    case 'f': case 'F': settings.fastBlink = true; break;
    default: break;  // not an option: ignored without a message
  }
}

}  // namespace

void ParseCommandLine(const char* arguments, DisplaySettings& settings) {
  if (arguments == nullptr) return;
  for (const char* cursor = arguments; *cursor != '\0'; ++cursor) {
    if (*cursor != '-' && *cursor != '/') continue;
    ++cursor;  // whatever follows the prefix is the option letter, even '-'
    if (*cursor == '\0') return;
    ApplyOption(*cursor, settings);
  }
}
