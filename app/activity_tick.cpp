#include "app/activity_tick.h"

#include <cstdio>

#include "res/program_texts.h"

void WriteTrayTooltip(char* tooltip, std::size_t size) {
  if (size == 0) return;
  tooltip[0] = '\0';
  std::snprintf(tooltip, size, "%s", TRAY_TOOLTIP);
}
