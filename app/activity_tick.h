// The tick the Windows controller runs on its poll timer: one sample of the
// disk counters, the icon code it gives, the tooltip, and a tray rebuild
// only when the code changed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "activity/counter_scale.h"
#include "app/display_settings.h"
#include "app/icon_code.h"
#include "common/gleamo_types.h"

// Writes the tooltip every tick sets, cut to size and terminated; a trouble
// line, when there is one, goes below the usual text.
void WriteTrayTooltip(char* tooltip, std::size_t size, const char* trouble = nullptr);

// A counter source that has only a sample to say.
inline CounterSample AsCounterSample(ActivitySample total) {
  return CounterSample{total};
}
inline CounterSample AsCounterSample(const CounterSample& sample) {
  return sample;
}

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
  // The trouble line the tray last showed, for a source that can have one:
  // a change of it alone rebuilds the tray too.
  const char** shownTrouble = nullptr;
};

// connectAndPoll() samples on the first tick, poll() on every later one;
// either gives an ActivitySample or a whole CounterSample (a source that
// connects again later does so inside poll()). rebuildTray() shows
// state.iconCode. A rebuild that throws leaves shownIconCode as it was, so
// the next tick rebuilds again; it never calls connectAndPoll() again.
template <typename Flag, typename Connect, typename Poll, typename Rebuild>
void RunActivityTick(const DisplaySettings& settings, const TickState<Flag>& state, Connect&& connectAndPoll,
                     Poll&& poll, Rebuild&& rebuildTray) {
  const bool connect = state.firstTick;
  state.firstTick = false;
  const CounterSample sample = AsCounterSample(connect ? connectAndPoll() : poll());
  // A sample that measures nothing shows the idle picture: no change, no bars.
  const ActivitySample total = sample.measured ? sample.total : state.previousTotal;
  const std::uint32_t readHeight = sample.measured ? counterScale.readHeight : 0;
  const std::uint32_t writeHeight = sample.measured ? counterScale.writeHeight : 0;
  state.iconCode = MakeIconCode(settings, total, state.previousTotal, readHeight, writeHeight, state.iconCode);
  state.previousTotal = sample.total;
  WriteTrayTooltip(state.tooltip, state.tooltipSize, sample.trouble);
  const bool troubleChanged = state.shownTrouble != nullptr && *state.shownTrouble != sample.trouble;
  if (state.iconCode == state.shownIconCode && !troubleChanged) return;
  rebuildTray();
  state.shownIconCode = state.iconCode;
  if (state.shownTrouble != nullptr) *state.shownTrouble = sample.trouble;
}
