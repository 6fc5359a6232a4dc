// One step of the walk over a disk's counter properties, shared by every
// counter source: prints the property's line and adds the read and write
// operation counts to the totals of the current poll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "activity/counter_scale.h"

enum class PropertyKind { Int32, Text, Other };

struct CounterProperty {
  const wchar_t* name;    // zero-terminated
  std::size_t nameBytes;  // length of name in bytes, terminator excluded
  PropertyKind kind;
  std::int32_t integer;  // the value when kind is Int32
  const wchar_t* text;   // the value when kind is Text, zero-terminated
};

// Names match only when they have the same length in bytes and the same
// bytes: exact and case-sensitive.
bool CounterNameIs(const CounterProperty& property, const wchar_t* target);

// Writes "\t<name>\t= <value>\n" to out with wide output, and adds a 32-bit
// integer named ReadCount or WriteCount to scale's read or write total.
// A null out counts without printing, for a run whose lines nobody reads.
void TallyCounterProperty(std::FILE* out, const CounterProperty& property, CounterScale& scale);
