// Turns cumulative disk operation totals into two bar heights, poll by poll.
#pragma once

#include <cstdint>

#include "common/gleamo_types.h"

// All fields are unsigned 32-bit; sums and differences wrap modulo 2^32.
struct CounterScale {
  std::uint32_t readTotal = 0;       // built by the current poll
  std::uint32_t writeTotal = 0;      // built by the current poll
  std::uint32_t prevReadTotal = 0;   // of the last completed poll; 0: none yet
  std::uint32_t prevWriteTotal = 0;  // of the last completed poll; 0: none yet
  std::uint32_t readDelta = 0;
  std::uint32_t writeDelta = 0;
  std::uint32_t readMax = 0;  // largest delta since start; never decreases
  std::uint32_t writeMax = 0;
  std::uint32_t readHeight = 0;  // 0 or 2 to 15
  std::uint32_t writeHeight = 0;
  std::uint32_t lastSample = 0;  // readTotal + writeTotal of the last completed poll
};

// The process-wide scale, fed by the counter poll; the tick reads the heights.
extern CounterScale counterScale;

// Completes a poll whose totals stand in scale.readTotal and scale.writeTotal:
// updates deltas, maxima and heights and returns the new lastSample.
ActivitySample ScaleCounters(CounterScale& scale);
