#include "app/activity_tick.h"

#include <cstdio>

#include "res/program_texts.h"

void WriteTrayTooltip(char* tooltip, std::size_t size, const char* trouble) {
  if (size == 0) return;
  tooltip[0] = '\0';
  if (trouble == nullptr) {
    std::snprintf(tooltip, size, "%s", TRAY_TOOLTIP);
  } else {
    std::snprintf(tooltip, size, "%s\n%s", TRAY_TOOLTIP, trouble);
  }
}
