// A long scripted day of counter totals through the scale and the icon
// code, as the tick runs them: the scale must recover every poll's growth,
// across 2^32 too, see nothing at a reset, and every icon code must stay
// within its style's range and tell idle from busy.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "activity/counter_scale.h"
#include "app/display_settings.h"
#include "app/icon_code.h"
#include "tests/activity/scripted_totals.h"
#include "tray/icon_raster.h"

namespace {

constexpr int POLLS = 100000;

TEST(CounterSoak, HundredThousandPollsRecoverEveryStepAndKeepEveryCodeInRange) {
  ScriptedTotals day(20261207);
  CounterScale scale;
  ActivitySample previous = 0;
  IconCode bar = 0, chars = 0, symbol = 0;
  int wraps = 0, resets = 0, idle = 0, busy = 0;

  for (int i = 0; i < POLLS; ++i) {
    const ScriptedPoll poll = day.Next();
    scale.readTotal = poll.readTotal;
    scale.writeTotal = poll.writeTotal;
    const ActivitySample sample = ScaleCounters(scale);
    const bool changed = sample != previous;
    const ColorCode color = COLOR_RED + i % 8;
    bar = MakeIconCode(Style(true, false, false, color), sample, previous, scale.readHeight, scale.writeHeight, bar);
    chars =
        MakeIconCode(Style(false, true, false, color), sample, previous, scale.readHeight, scale.writeHeight, chars);
    symbol =
        MakeIconCode(Style(false, false, true, color), sample, previous, scale.readHeight, scale.writeHeight, symbol);
    previous = sample;

    ASSERT_EQ(static_cast<std::uint32_t>(sample), poll.readTotal + poll.writeTotal) << "poll " << i;
    if (i > 0) {  // the first poll has nothing to compare with
      ASSERT_EQ(scale.readDelta, poll.readGrowth) << "poll " << i;
      ASSERT_EQ(scale.writeDelta, poll.writeGrowth) << "poll " << i;
    }
    for (const std::uint32_t height : {scale.readHeight, scale.writeHeight}) {
      ASSERT_TRUE(height == 0 || (height >= 2 && height <= 15)) << "poll " << i << " height " << height;
    }
    ASSERT_EQ(scale.readHeight != 0, scale.readDelta != 0) << "poll " << i;
    ASSERT_EQ(scale.writeHeight != 0, scale.writeDelta != 0) << "poll " << i;

    ASSERT_EQ(IconStyleOf(bar), IconStyle::Bar) << bar;
    const BarCode decoded = DecodeBarCode(bar);
    ASSERT_EQ(decoded.color, color);
    ASSERT_EQ(decoded.readHeight, static_cast<int>(scale.readHeight));
    ASSERT_EQ(decoded.writeHeight, static_cast<int>(scale.writeHeight));
    ASSERT_EQ(chars, changed ? color + 100 : CHAR_IDLE) << "poll " << i;
    ASSERT_EQ(symbol, changed ? color : SYMBOL_IDLE) << "poll " << i;

    wraps += poll.wrapped;
    resets += poll.event == ScriptedPoll::Event::Reset;
    idle += poll.event == ScriptedPoll::Event::Idle;
    busy += poll.event == ScriptedPoll::Event::Busy && (poll.readGrowth | poll.writeGrowth) != 0;
  }
  std::printf("%d polls: %d wraps, %d resets, %d idle, %d busy\n", POLLS, wraps, resets, idle, busy);
  // The day held what it is meant to hold.
  EXPECT_GE(wraps, 20);
  EXPECT_GE(resets, 90);
  EXPECT_GE(idle, POLLS / 4);
  EXPECT_GE(busy, POLLS / 3);
}

}  // namespace
