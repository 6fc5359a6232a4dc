#include "activity/counter_scale.h"

CounterScale counterScale;

namespace {

// A total that goes down is a 32-bit counter passing its top only when the
// modular difference is small; no set of disks completes this many
// operations in one tick (it would take 56 million per second at 300 ms).
// Any other decrease is a reset, such as a disk that was unplugged.
constexpr std::uint32_t MAX_WRAP_DELTA = 1u << 24;

void UpdateDelta(std::uint32_t total, std::uint32_t previous, std::uint32_t& delta) {
  if (previous == 0) return;  // no previous value: the delta stays as it was
  const std::uint32_t difference = total - previous;
  const bool reset = total < previous && difference >= MAX_WRAP_DELTA;
  delta = reset ? 0 : difference;  // a reset is no activity; measure from the new total
}

std::uint32_t BarHeight(std::uint32_t delta, std::uint32_t max) {
  if (max == 0) return 0;
  auto height = static_cast<std::uint32_t>(std::uint64_t{15} * delta / max);
  // Any activity at all shows at least two pixels.
  if (height < 2 && delta != 0) height = 2;
  return height;
}

}  // namespace

ActivitySample ScaleCounters(CounterScale& scale) {
  UpdateDelta(scale.readTotal, scale.prevReadTotal, scale.readDelta);
  UpdateDelta(scale.writeTotal, scale.prevWriteTotal, scale.writeDelta);
  if (scale.readDelta > scale.readMax) scale.readMax = scale.readDelta;
  if (scale.writeDelta > scale.writeMax) scale.writeMax = scale.writeDelta;
  scale.prevReadTotal = scale.readTotal;
  scale.prevWriteTotal = scale.writeTotal;
  if (scale.readMax != 0) scale.readHeight = BarHeight(scale.readDelta, scale.readMax);
  if (scale.writeMax != 0) scale.writeHeight = BarHeight(scale.writeDelta, scale.writeMax);
  scale.lastSample = scale.readTotal + scale.writeTotal;
  return static_cast<ActivitySample>(scale.lastSample);
}
