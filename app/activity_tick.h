// The tick the Windows controller runs on its poll timer: one sample of the
// disk counters, the icon code it gives, the tooltip, and a tray rebuild
// only when the code changed.
#pragma once

#include <cstddef>

#include "activity/counter_scale.h"
#include "app/display_settings.h"
#include "app/icon_code.h"
#include "common/gleamo_types.h"

// Writes the tooltip every tick sets, cut to size and terminated.
void WriteTrayTooltip(char* tooltip, std::size_t size);

// What a tick reads and writes. The controller keeps these under its own
// names; Flag is its own flag type.
template <typename Flag>
struct TickState {
  Flag& firstTick;  // the next tick connects before sampling
  ActivitySample& previousTotal;
  IconCode& iconCode;
  IconCode& shownIconCode;  // the code the tray last showed
  char* tooltip;
  std::size_t tooltipSize;
};

// connectAndPoll() samples on the first tick, poll() on every later one;
// rebuildTray() shows state.iconCode. A rebuild that throws leaves
// shownIconCode as it was, so the next tick rebuilds again; it never makes
// a second connection.
template <typename Flag, typename Connect, typename Poll, typename Rebuild>
void RunActivityTick(const DisplaySettings& settings, const TickState<Flag>& state, Connect&& connectAndPoll,
                     Poll&& poll, Rebuild&& rebuildTray) {
  const bool connect = state.firstTick;
  state.firstTick = false;
  const ActivitySample total = connect ? connectAndPoll() : poll();
  state.iconCode = MakeIconCode(settings, total, state.previousTotal, counterScale.readHeight, counterScale.writeHeight,
                                state.iconCode);
  state.previousTotal = total;
  WriteTrayTooltip(state.tooltip, state.tooltipSize);
  if (state.iconCode == state.shownIconCode) return;
  rebuildTray();
  state.shownIconCode = state.iconCode;
}
