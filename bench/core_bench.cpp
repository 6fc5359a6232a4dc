// The portable work of one tick: scaling the counters, deciding the icon
// code, and painting the icon as pixels (what the platforms without GDI draw).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "activity/counter_scale.h"
#include "app/display_settings.h"
#include "app/icon_code.h"
#include "tray/icon_raster.h"

namespace {

// Totals that climb by varying steps and pass 2^32 now and then, as busy
// disks make them.
void BM_ScaleCounters(benchmark::State& state) {
  CounterScale scale;
  std::uint32_t step = 12345;
  for (auto _ : state) {
    step = step * 1664525u + 1013904223u;
    scale.readTotal += step >> 20;
    scale.writeTotal += step >> 22;
    benchmark::DoNotOptimize(ScaleCounters(scale));
  }
  benchmark::DoNotOptimize(scale.readHeight);
}
BENCHMARK(BM_ScaleCounters);

DisplaySettings SettingsFor(int style) {
  DisplaySettings settings;
  settings.barIcon = style == 0;
  settings.charIcon = style == 1;
  settings.symbolIcon = style == 2;
  settings.color = COLOR_GREEN;
  return settings;
}

void BM_MakeIconCode(benchmark::State& state, int style) {
  const DisplaySettings settings = SettingsFor(style);
  ActivitySample total = 0;
  IconCode code = 0;
  std::uint32_t tick = 0;
  for (auto _ : state) {
    const ActivitySample previous = total;
    total += static_cast<ActivitySample>(tick & 1);  // idle and busy ticks in turn
    ++tick;
    code = MakeIconCode(settings, total, previous, tick % 16, (tick >> 4) % 16, code);
    benchmark::DoNotOptimize(code);
  }
}
BENCHMARK_CAPTURE(BM_MakeIconCode, bar, 0);
BENCHMARK_CAPTURE(BM_MakeIconCode, char, 1);
BENCHMARK_CAPTURE(BM_MakeIconCode, symbol, 2);

// A repaint: the whole 16x16 picture with its labels.
void BM_PaintIconRaster(benchmark::State& state, IconCode code) {
  for (auto _ : state) {
    IconRaster raster = PaintIconRaster("TAV", "OLI", code);
    benchmark::DoNotOptimize(raster);
  }
}
BENCHMARK_CAPTURE(BM_PaintIconRaster, symbol, 13);
BENCHMARK_CAPTURE(BM_PaintIconRaster, char, 113);
BENCHMARK_CAPTURE(BM_PaintIconRaster, bar, 130712);

}  // namespace
