#include "app/icon_code.h"

#include <gtest/gtest.h>

#include <new>

#include "app/activity_tick.h"

namespace {

DisplaySettings Settings(const char* arguments) {
  DisplaySettings settings;
  ParseCommandLine(arguments, settings);
  return settings;
}

TEST(MakeIconCode, SymbolStyleIsIdleGreyOrTheColour) {
  const DisplaySettings blue = Settings("-s -b");
  EXPECT_EQ(MakeIconCode(blue, 0, 0, 0, 0, 18), 10);      // first tick, nothing happened
  EXPECT_EQ(MakeIconCode(blue, 500, 0, 0, 0, 10), 13);    // 0 -> 500
  EXPECT_EQ(MakeIconCode(blue, 500, 500, 0, 0, 13), 10);  // 500 -> 500
  EXPECT_EQ(MakeIconCode(blue, 501, 500, 7, 3, 13), 13);  // heights play no part
  EXPECT_EQ(MakeIconCode(Settings("-s -w"), -1, 0x7FFFFFFF, 0, 0, 10), 18);
}

TEST(MakeIconCode, CharStyleAddsAHundred) {
  const DisplaySettings red = Settings("-c -r");
  EXPECT_EQ(MakeIconCode(red, 42, 42, 0, 0, 18), 110);
  EXPECT_EQ(MakeIconCode(red, 43, 42, 0, 0, 110), 111);
  EXPECT_EQ(MakeIconCode(Settings("-c -k"), 1, 2, 15, 15, 110), 117);
}

TEST(MakeIconCode, BarStyleEncodesColourAndHeightsWhateverTheTotal) {
  EXPECT_EQ(MakeIconCode(Settings("-a -b"), 1, 0, 15, 7, 18), 131507);
  EXPECT_EQ(MakeIconCode(Settings("-a -r"), 1, 0, 2, 0, 18), 110200);
  EXPECT_EQ(MakeIconCode(Settings("-a -w"), 1, 0, 15, 15, 18), 181515);
  EXPECT_EQ(MakeIconCode(Settings("-a -r"), 5, 5, 0, 0, 18), 110000);  // unchanged total: no idle code of its own
  EXPECT_EQ(MakeIconCode(Settings("-a -r"), 5, 9, 0, 0, 18), 110000);
  // A changed total with unchanged heights gives the code of the tick before.
  const IconCode before = MakeIconCode(Settings("-v"), 100, 90, 4, 2, 18);
  EXPECT_EQ(MakeIconCode(Settings("-v"), 110, 100, 4, 2, before), before);
}

TEST(MakeIconCode, BarOutranksCharAndCharOutranksSymbol) {
  DisplaySettings all;
  all.barIcon = all.charIcon = all.symbolIcon = true;
  all.color = COLOR_GREEN;
  EXPECT_EQ(MakeIconCode(all, 1, 0, 3, 4, 18), 120304);
  all.barIcon = false;
  EXPECT_EQ(MakeIconCode(all, 1, 0, 3, 4, 18), 112);
  EXPECT_EQ(MakeIconCode(all, 0, 0, 3, 4, 18), 110);
}

TEST(MakeIconCode, NoStyleKeepsTheCurrentCode) {
  DisplaySettings none;
  none.barIcon = false;
  EXPECT_EQ(MakeIconCode(none, 1, 0, 3, 4, 4711), 4711);
}

}  // namespace

// The tick around the decision, with counted stand-ins for the counter
// source and the tray.
TEST(ActivityTick, ConnectsOnceAndRebuildsUntilARebuildSucceeds) {
  const DisplaySettings blue = Settings("-s -b");
  bool firstTick = true;
  ActivitySample previousTotal = 0;
  IconCode iconCode = 18, shownIconCode = 0;
  char tooltip[128] = "stale";
  const TickState<bool> state{firstTick, previousTotal, iconCode, shownIconCode, tooltip, sizeof tooltip};
  int connections = 0, polls = 0, rebuilds = 0;
  ActivitySample total = 500;
  bool rebuildThrows = true;
  const auto tick = [&] {
    RunActivityTick(
        blue, state, [&] { return ++connections, total; }, [&] { return ++polls, total; },
        [&] {
          ++rebuilds;
          if (rebuildThrows) throw std::bad_alloc();
        });
  };

  EXPECT_THROW(tick(), std::bad_alloc);  // the tray could not be built
  EXPECT_EQ(iconCode, 13);
  EXPECT_EQ(shownIconCode, 0) << "nothing was shown";
  EXPECT_STREQ(tooltip, "Tavoli by Norvath");
  rebuildThrows = false;
  tick();  // idle now, and nothing was shown yet
  EXPECT_EQ(connections, 1) << "a run connects once only";
  EXPECT_EQ(polls, 1);
  EXPECT_EQ(rebuilds, 2);
  EXPECT_EQ(iconCode, 10);
  EXPECT_EQ(shownIconCode, 10);
  tick();  // unchanged: no rebuild
  EXPECT_EQ(rebuilds, 2);
  total = 501;
  tick();
  EXPECT_EQ(rebuilds, 3);
  EXPECT_EQ(previousTotal, 501);
}

// A source whose counters are away: its samples measure nothing, whatever
// the heights left behind, and its trouble reaches the tray as the
// tooltip's second line, also when the picture stays the same.
TEST(ActivityTick, ASampleThatMeasuresNothingShowsIdleAndItsTroubleRebuildsTheTray) {
  const DisplaySettings bars = Settings("-a -g");
  bool firstTick = false;
  ActivitySample previousTotal = 700;
  IconCode iconCode = 120000, shownIconCode = 120000;
  char tooltip[128] = "";
  const char* shownTrouble = nullptr;
  const TickState<bool> state{firstTick, previousTotal,  iconCode,     shownIconCode,
                              tooltip,   sizeof tooltip, &shownTrouble};
  CounterSample sample;
  int rebuilds = 0;
  const auto tick = [&] {
    RunActivityTick(
        bars, state, [] { return CounterSample{}; }, [&] { return sample; }, [&] { ++rebuilds; });
  };
  counterScale = CounterScale{};

  const struct {
    CounterSample sample;
    std::uint32_t readHeight;
    IconCode code;
    const char* tooltip;
    int rebuilds;
  } ticks[] = {
      {{800, true, nullptr}, 9, 120900, "Tavoli by Norvath", 1},        // measured: the heights show
      {{800, true, nullptr}, 9, 120900, "Tavoli by Norvath", 1},        // a failed poll keeps them
      {{800, false, "gone"}, 9, 120000, "Tavoli by Norvath\ngone", 2},  // away: idle, and why
      {{800, false, "gone"}, 9, 120000, "Tavoli by Norvath\ngone", 2},  // nothing new
      {{950, false, nullptr}, 0, 120000, "Tavoli by Norvath", 3},       // back: same picture, old tooltip
      {{950, false, "gone"}, 0, 120000, "Tavoli by Norvath\ngone", 4},  // away again while idle
  };
  for (const auto& expected : ticks) {
    SCOPED_TRACE(testing::Message() << "tick with total " << expected.sample.total);
    sample = expected.sample;
    counterScale.readHeight = expected.readHeight;
    tick();
    EXPECT_EQ(iconCode, expected.code);
    EXPECT_STREQ(tooltip, expected.tooltip);
    EXPECT_EQ(rebuilds, expected.rebuilds);
    EXPECT_EQ(previousTotal, expected.sample.total);
  }
  // The symbol style sees no change in an unmeasured sample either.
  const DisplaySettings symbol = Settings("-s -g");
  sample = CounterSample{1234, false, nullptr};
  RunActivityTick(
      symbol, state, [] { return CounterSample{}; }, [&] { return sample; }, [] {});
  EXPECT_EQ(iconCode, 10);
  counterScale = CounterScale{};
}
