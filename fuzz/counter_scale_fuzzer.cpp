// ScaleCounters over any sequence of totals and sets of disks, from the
// state the process starts with: totals may climb, jump, wrap past 2^32 or
// fall back to zero, disks may come and go. Heights stay 0 or 2 to 15 (one
// pixel is never shown), any activity shows, the maxima never fall, a poll
// over another set of disks than the last measures nothing, and every icon
// code built from the heights decodes to the same heights.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "activity/counter_scale.h"
#include "app/display_settings.h"
#include "app/icon_code.h"
#include "tray/icon_raster.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

void CheckHeight(std::uint32_t height, std::uint32_t delta, std::uint32_t max) {
  Check(height == 0 || (height >= 2 && height <= 15));
  Check(max >= delta);
  if (delta == 0) Check(height == 0);
  if (delta != 0) Check(height >= 2);
  if (delta != 0 && delta == max) Check(height == 15);
}

void CheckIconCodes(const CounterScale& scale, ActivitySample total, ActivitySample previous, ColorCode color) {
  DisplaySettings settings;
  settings.color = color;
  const IconCode bar = MakeIconCode(settings, total, previous, scale.readHeight, scale.writeHeight, 0);
  Check(IconStyleOf(bar) == IconStyle::Bar);
  const BarCode decoded = DecodeBarCode(bar);
  Check(decoded.color == color);
  Check(decoded.readHeight == static_cast<int>(scale.readHeight));
  Check(decoded.writeHeight == static_cast<int>(scale.writeHeight));

  settings.barIcon = false;
  settings.charIcon = true;
  const IconCode chars = MakeIconCode(settings, total, previous, scale.readHeight, scale.writeHeight, 0);
  Check(chars == (total == previous ? CHAR_IDLE : color + 100));
  settings.charIcon = false;
  settings.symbolIcon = true;
  const IconCode symbol = MakeIconCode(settings, total, previous, scale.readHeight, scale.writeHeight, 0);
  Check(symbol == (total == previous ? SYMBOL_IDLE : color));
}

// The set of disks a byte names: bit i (0 to 6) is the disk "Disk<i>",
// bit 7 a disk without a name.
void WalkDisks(CounterScale& scale, std::uint8_t disks) {
  for (int bit = 0; bit < 8; ++bit) {
    if ((disks >> bit & 1) == 0) continue;
    CountInstance(scale);
    const wchar_t name[] = {L'D', L'i', L's', L'k', static_cast<wchar_t>(L'0' + bit), L'\0'};
    if (bit < 7) AddInstanceName(scale, name, 5);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CounterScale scale;
  ActivitySample previous = 0;
  std::uint8_t previousDisks = 0;  // before the first poll: none
  // Each poll is nine bytes: the read total, the write total and the disks.
  constexpr std::size_t POLL_BYTES = 9;
  for (std::size_t at = 0; at + POLL_BYTES <= size; at += POLL_BYTES) {
    std::uint32_t totals[2];
    std::memcpy(totals, data + at, sizeof totals);
    const std::uint8_t disks = data[at + 8];
    const CounterScale before = scale;
    StartCounterPoll(scale);
    WalkDisks(scale, disks);
    scale.readTotal = totals[0];
    scale.writeTotal = totals[1];

    const ActivitySample sample = ScaleCounters(scale);
    if (disks != previousDisks) {
      Check(scale.readDelta == 0 && scale.writeDelta == 0);
      Check(scale.readHeight == 0 && scale.writeHeight == 0);
      Check(scale.readMax == before.readMax && scale.writeMax == before.writeMax);
    }
    previousDisks = disks;

    Check(static_cast<std::uint32_t>(sample) == totals[0] + totals[1]);
    Check(scale.lastSample == totals[0] + totals[1]);
    Check(scale.prevReadTotal == totals[0] && scale.prevWriteTotal == totals[1]);
    Check(scale.readMax >= before.readMax && scale.writeMax >= before.writeMax);
    CheckHeight(scale.readHeight, scale.readDelta, scale.readMax);
    CheckHeight(scale.writeHeight, scale.writeDelta, scale.writeMax);
    CheckIconCodes(scale, sample, previous, COLOR_RED + static_cast<ColorCode>(at / POLL_BYTES % 8));
    previous = sample;
  }
  return 0;
}
