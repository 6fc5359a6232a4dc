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

// FNV-1a over the name's units, then a finaliser that spreads every bit, so
// that a sum of two names' hashes hardly ever equals another's.
template <typename Unit>
std::uint64_t NameHash(const Unit* name, std::size_t units) {
  std::uint64_t hash = 14695981039346656037u;
  for (std::size_t i = 0; i < units; ++i) {
    hash ^= static_cast<std::uint16_t>(name[i]);
    hash *= 1099511628211u;
  }
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdu;
  hash ^= hash >> 33;
  return hash;
}

}  // namespace

void StartCounterPoll(CounterScale& scale) {
  scale.readTotal = 0;
  scale.writeTotal = 0;
  scale.instanceCount = 0;
  scale.instanceSignature = 0;
}

std::uint64_t InstanceNameHash(const wchar_t* name, std::size_t units) {
  return NameHash(name, units);
}

std::uint64_t InstanceNameHash(const char* name, std::size_t length) {
  return NameHash(reinterpret_cast<const unsigned char*>(name), length);
}

void AddInstanceName(CounterScale& scale, const wchar_t* name, std::size_t units) {
  scale.instanceSignature += InstanceNameHash(name, units);
}

ActivitySample ScaleCounters(CounterScale& scale, const PollTotals& poll) {
  scale.readTotal = poll.readTotal;
  scale.writeTotal = poll.writeTotal;
  scale.instanceCount = poll.instanceCount;
  scale.instanceSignature = poll.instanceSignature;
  return ScaleCounters(scale);
}

ActivitySample ScaleCounters(CounterScale& scale) {
  const bool sameInstances =
      scale.instanceCount == scale.prevInstanceCount && scale.instanceSignature == scale.prevInstanceSignature;
  const bool comparable = sameInstances && !scale.freshBaseline;
  scale.freshBaseline = false;
  if (comparable) {
    UpdateDelta(scale.readTotal, scale.prevReadTotal, scale.readDelta);
    UpdateDelta(scale.writeTotal, scale.prevWriteTotal, scale.writeDelta);
  } else {
    // A disk left or joined, or the polls had a gap: the totals cannot be
    // compared. Measure from this poll's totals next time.
    scale.readDelta = 0;
    scale.writeDelta = 0;
  }
  scale.prevInstanceCount = scale.instanceCount;
  scale.prevInstanceSignature = scale.instanceSignature;
  if (scale.readDelta > scale.readMax) scale.readMax = scale.readDelta;
  if (scale.writeDelta > scale.writeMax) scale.writeMax = scale.writeDelta;
  scale.prevReadTotal = scale.readTotal;
  scale.prevWriteTotal = scale.writeTotal;
  if (scale.readMax != 0) scale.readHeight = BarHeight(scale.readDelta, scale.readMax);
  if (scale.writeMax != 0) scale.writeHeight = BarHeight(scale.writeDelta, scale.writeMax);
  scale.lastSample = scale.readTotal + scale.writeTotal;
  return static_cast<ActivitySample>(scale.lastSample);
}
