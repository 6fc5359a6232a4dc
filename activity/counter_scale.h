// Turns cumulative disk operation totals into two bar heights, poll by poll.
#pragma once

#include <cstddef>
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

  // The next completed poll only records its totals, as after a change of
  // the disks: set after a gap in the polls, whose totals cannot be compared
  // across it without showing the whole gap's work as one tick's.
  bool freshBaseline = false;

  // The set of disk instances a poll walked: how many, and a sum of their
  // names' hashes, which is the same in any order. A poll whose set differs
  // from the last completed poll's measures nothing, since its totals
  // include or miss some disk's whole lifetime count.
  std::uint32_t instanceCount = 0;  // built by the current poll
  std::uint64_t instanceSignature = 0;
  std::uint32_t prevInstanceCount = 0;
  std::uint64_t prevInstanceSignature = 0;
};

// The process-wide scale, fed by the counter poll; the tick reads the heights.
extern CounterScale counterScale;

// Starts a poll: empty totals and an empty instance set.
void StartCounterPoll(CounterScale& scale);

// Adds one instance to the current poll's set; a named instance also folds
// its name in with AddInstanceName.
inline void CountInstance(CounterScale& scale) {
  ++scale.instanceCount;
}
void AddInstanceName(CounterScale& scale, const wchar_t* name, std::size_t units);

// A name's share of an instance signature, each unit of the name as it is;
// the same for a kernel's 8-bit device name as for its wide spelling.
std::uint64_t InstanceNameHash(const wchar_t* name, std::size_t units);
std::uint64_t InstanceNameHash(const char* name, std::size_t length);

// Completes a poll whose totals stand in scale.readTotal and scale.writeTotal:
// updates deltas, maxima and heights and returns the new lastSample.
ActivitySample ScaleCounters(CounterScale& scale);

// What a counter source found in one poll, handed to the scale whole: its
// totals and the set of instances they came from.
struct PollTotals {
  std::uint32_t readTotal = 0;
  std::uint32_t writeTotal = 0;
  std::uint32_t instanceCount = 0;
  std::uint64_t instanceSignature = 0;
};

// Completes a poll with those totals, as the one above does.
ActivitySample ScaleCounters(CounterScale& scale, const PollTotals& poll);
